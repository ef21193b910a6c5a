// Fuzzes what discovery hears: replies of modules with their own TCP/IP port (16 bytes each),
// USB serial-number strings, and linkSpecs that link servers announce (loopback probe replies
// and beacons, 128 bytes each), and what the object layer then does with a linkSpec it was handed.
// Nothing is sent anywhere: the datagrams come from the input, and the object layer connects
// only where it decides without a transport (refused rates, refused types, sharing switched off).
//
// Input: flags (bit 0: search for links on this machine only; bit 1: the beacon knows its own
// address), the wanted model, the beacon's address (4 bytes), then records of one kind byte
// (low 2 bits the kind, the rest a length) and the record's bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Module.h"
#include "discover.h"
#include "unix_discovery.h"

using Pelmorax::Zendrival::Module;
using Pelmorax::Zendrival::VexnetConfig;

namespace {

constexpr size_t kHeaderSize = 6;
constexpr size_t kTcpipReplySize = 16;
constexpr uint32_t kSerialRates[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};

enum RecordKind : uint8_t { kTcpipReply = 0, kSharedLink = 1, kUsbSerial = 2, kHandedSpec = 3 };

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t position;

    size_t take(size_t wanted, const uint8_t** bytes) {
        size_t available = size - position;
        size_t count = wanted < available ? wanted : available;
        *bytes = data + position;
        position += count;
        return count;
    }
};

uint32_t littleEndian32(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

bool isZero(const uint8_t* bytes, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

// Bytes from offset 32 on are reserved for network and USB specs.
bool reservedIsZero(const linkSpec& spec) {
    return isZero(reinterpret_cast<const uint8_t*>(&spec) + 32, sizeof(spec) - 32);
}

bool isSerialRate(uint32_t rate) {
    for (uint32_t supported : kSerialRates) {
        if (rate == supported) {
            return true;
        }
    }
    return false;
}

// Hands a linkSpec to a module as the application does, where that decides without a transport: a
// serial linkSpec with a rate the engine refuses before it looks at the path, a network client
// linkSpec with sharing switched off, one of no known type. The 128-byte copy is the only place the
// path lives, so reading past it is caught.
void connectFromSpec(const linkSpec& heard) {
    linkSpec* spec = qLinkSpec_Copy(&heard);
    if (spec == nullptr) {
        return;
    }
    qErr expected = qErrNone;
    if (spec->type == linkTypeSerial) {
        if (isSerialRate(spec->baudRate)) {
            spec->baudRate++;
        }
        expected = qErrConnection;
    } else if (spec->type >= linkTypeNetworkClient && spec->type <= linkTypeNetworkClientSerial) {
        expected = qErrConfiguration;
    } else if (spec->type > linkTypeNetworkClientSerial || spec->type == linkTypeNone) {
        expected = qErrMode;
    }
    if (expected != qErrNone) {
        Module module(0, static_cast<uint8_t>(spec->model));
        VexnetConfig config;
        config.enabled = false;
        config.fallback = false;
        module.setConfig(config);
        linkSpec kept{};
        if (module.connectFromSpec(*spec) != expected || module.isConnected() ||
            module.getLinkSpecifier(&kept) != qErrNone || memcmp(&kept, spec, sizeof kept) != 0) {
            abort();
        }
    }
    qLinkSpec_Destroy(&spec);
}

struct Listener {
    bool thisMachineOnly;
    uint32_t hostAddress;
    uint8_t wantedModel;
    std::vector<linkSpec> reported;
    int accepted = 0;
};

bool sameModule(const linkSpec& a, const linkSpec& b) {
    return a.type == b.type && a.serialNumber == b.serialNumber && a.ipAddress == b.ipAddress &&
           a.port == b.port;
}

// The discovery callback: every module once, only this machine's when so asked; the object
// layer's model filter picks what it wants.
bool onSharedLink(const linkSpec* spec, bool* found, void* reference) {
    Listener* listener = static_cast<Listener*>(reference);
    for (const linkSpec& earlier : listener->reported) {
        if (sameModule(earlier, *spec)) {
            abort();
        }
    }
    if (listener->thisMachineOnly && spec->ipAddress != qDISCOVERY_LOCALHOST &&
        (listener->hostAddress == 0 || spec->ipAddress != listener->hostAddress)) {
        abort();
    }
    listener->reported.push_back(*spec);
    linkSpec wanted{};
    wanted.model = listener->wantedModel;
    bool more = Pelmorax::Zendrival::cbModelCallback(spec, found, &wanted);
    if (*found != !more || (*found && memcmp(&wanted, spec, sizeof wanted) != 0) ||
        (*found && listener->wantedModel != 0 && spec->model != listener->wantedModel)) {
        abort();
    }
    if (*found) {
        listener->accepted++;
    }
    connectFromSpec(*spec);
    // Keep listening: a search stops at the first accepted module, which would end the run.
    return true;
}

void tcpipReply(Reader* input, size_t length) {
    const uint8_t* sender = nullptr;
    if (input->take(4, &sender) < 4) {
        return;
    }
    const uint8_t* reply = nullptr;
    length = input->take(length, &reply);
    linkSpec* spec = qDiscovery_CreateTCPIPSpec(reply, length, littleEndian32(sender));
    if (length != kTcpipReplySize) {
        if (spec != nullptr) {
            abort();
        }
        return;
    }
    if (spec == nullptr || spec->type != linkTypeTCPIP ||
        spec->serialNumber != littleEndian32(reply + 4) ||
        spec->routerSerialNumber != spec->serialNumber || spec->module != reply[1] ||
        spec->router != reply[1] || spec->model != reply[12] ||
        spec->port != (uint32_t(reply[2]) | uint32_t(reply[3]) << 8) ||
        spec->ipAddress != littleEndian32(sender) || !reservedIsZero(*spec)) {
        abort();
    }
    qLinkSpec_Destroy(&spec);
}

bool isHexSerial(const uint8_t* text, size_t length) {
    if (length != 8) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        const uint8_t c = text[i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

void usbSerial(Reader* input, size_t length) {
    const uint8_t* product = nullptr;
    if (input->take(2, &product) < 2) {
        return;
    }
    const uint8_t* text = nullptr;
    length = input->take(length, &text);
    // The string is not terminated: a copy of exactly its length catches any read past it.
    std::vector<char> serial(text, text + length);
    const uint16_t productId = uint16_t(product[0] | product[1] << 8);
    linkSpec* spec = qDiscovery_CreateUSBSpec(serial.data(), serial.size(), productId);
    if ((spec != nullptr) != isHexSerial(text, length)) {
        abort();
    }
    if (spec != nullptr) {
        if (spec->type != linkTypeUSB || spec->usbId != spec->serialNumber ||
            spec->model != (productId & 0xFFu) || spec->module != 0 || spec->router != 0 ||
            spec->routerSerialNumber != 0 || spec->port != 0 || !reservedIsZero(*spec)) {
            abort();
        }
        qLinkSpec_Destroy(&spec);
    }
}

// A payload heard from a link server, in a buffer of exactly its size.
void sharedLink(Reader* input, size_t length, qSharedLinkSearch* search) {
    const uint8_t* bytes = nullptr;
    length = input->take(length, &bytes);
    std::vector<uint8_t> payload(bytes, bytes + length);
    qDiscovery_OfferSharedLink(search, payload.data(), payload.size());
}

void handedSpec(Reader* input) {
    const uint8_t* bytes = nullptr;
    if (input->take(sizeof(linkSpec), &bytes) < sizeof(linkSpec)) {
        return;
    }
    linkSpec spec;
    memcpy(&spec, bytes, sizeof spec);
    connectFromSpec(spec);
}

size_t sharedLinkLength(uint8_t kind) {
    const size_t units = kind >> 2;
    return units == 0 ? sizeof(linkSpec) : units * 4;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeaderSize) {
        return 0;
    }
    Listener listener;
    listener.thisMachineOnly = (data[0] & 1) != 0;
    listener.hostAddress = (data[0] & 2) != 0 ? littleEndian32(data + 2) : 0;
    listener.wantedModel = data[1];
    qSharedLinkSearch search{onSharedLink,         &listener, listener.thisMachineOnly,
                             listener.hostAddress, {},        0};
    Reader input{data, size, kHeaderSize};
    while (input.position < input.size) {
        const uint8_t kind = input.data[input.position++];
        switch (kind & 3) {
            case kTcpipReply:
                tcpipReply(&input, kind >> 2);
                break;
            case kSharedLink:
                sharedLink(&input, sharedLinkLength(kind), &search);
                break;
            case kUsbSerial:
                usbSerial(&input, kind >> 2);
                break;
            case kHandedSpec:
                handedSpec(&input);
                break;
        }
    }
    if (search.count != listener.accepted || search.seen.size() != listener.reported.size()) {
        abort();
    }
    return 0;
}
