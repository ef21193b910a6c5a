// The transport rows. This is the one engine file that knows the stream of every transport.
#include "qLinkTransport.h"

#include <cstring>

#include "qStream_ZeroMQClient.h"
#include "qStreamsocket.h"
#include "unix_streamserial.h"
#include "unix_streamusb.h"

namespace {

// Serial line rates a module supports, in the order of the serial stream's baud codes.
constexpr uint32_t kSerialRates[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};

bool baudCodeOf(uint32_t baud, int* code) {
    for (size_t i = 0; i < sizeof kSerialRates / sizeof kSerialRates[0]; ++i) {
        if (kSerialRates[i] == baud) {
            *code = static_cast<int>(i);
            return true;
        }
    }
    return false;
}

qErr usbStream(const linkSpec& spec, qStream** stream) {
    return qStream_CreateUSB(spec.serialNumber, stream);
}

qErr socketStream(const linkSpec& spec, qStream** stream) {
    return qStream_CreateSocket(spec.ipAddress, spec.port, stream);
}

qErr serialStream(const linkSpec& spec, qStream** stream) {
    // The path may come from a discovery record; never trust it to be terminated.
    char path[sizeof spec.devicePath + 1];
    memcpy(path, spec.devicePath, sizeof spec.devicePath);
    path[sizeof spec.devicePath] = '\0';
    int baudCode = 0;
    if (path[0] == '\0' || !baudCodeOf(spec.baudRate, &baudCode)) {
        return qErrParam;
    }
    return qStream_CreateSerial_Packetized(path, baudCode, 0, 0, 0, stream);
}

qErr clientStream(const linkSpec& spec, qStream** stream) {
    // The whole linkSpec: a server on the network is reached only with the key it carries.
    return qStream_CreateClientForSpec(&spec, stream);
}

// A client reaches the module through a link server, whatever transport the server uses.
constexpr qLinkTransport kTransports[] = {
    {linkTypeNone, "caller's stream", nullptr, false, false, linkTypeNone},
    {linkTypeUSB, "USB", usbStream, true, true, linkTypeNetworkClientUSB},
    {linkTypeTCPIP, "TCPIP", socketStream, false, true, linkTypeNetworkClientTCPIP},
    {linkTypeSerial, "serial", serialStream, false, false, linkTypeNetworkClientSerial},
    {linkTypeNetworkClient, "link server", clientStream, false, true, linkTypeNone},
    {linkTypeNetworkClientUSB, "link server (USB)", clientStream, false, true, linkTypeNone},
    {linkTypeNetworkClientTCPIP, "link server (TCPIP)", clientStream, false, true, linkTypeNone},
    {linkTypeNetworkClientSerial, "link server (serial)", clientStream, false, true, linkTypeNone},
};

}  // namespace

const qLinkTransport* qLinkTransport_Find(uint32_t type) {
    for (const qLinkTransport& transport : kTransports) {
        if (transport.type == type) {
            return &transport;
        }
    }
    return nullptr;
}
