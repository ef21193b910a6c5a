#include "StreamControl.h"

#include <algorithm>

namespace modulesim {

namespace {

constexpr uint8_t kOptionEnable = 1;  // set: subscribe; get: is the module streaming
constexpr uint8_t kOptionDisable = 2;
constexpr uint8_t kAny = 255;

uint8_t sampleType(uint8_t width) {
    return width == 1 ? 1 : width == 2 ? 2 : 3;
}

}  // namespace

std::vector<StreamControl::Value> StreamControl::valuesFor(uint32_t key) {
    uint8_t command = static_cast<uint8_t>(key >> 16);
    uint8_t option = static_cast<uint8_t>(key >> 8);
    uint8_t index = static_cast<uint8_t>(key);
    std::vector<Value> values;
    if ((command != kAny && command != kCmdSystem) || (index != kAny && index != 0)) {
        return values;  // only the system entity has values to stream
    }
    for (const OptionInfo& info : SystemEntity::options()) {
        bool numeric = (info.access & kAccessGet) && info.width >= 1 && info.width <= 4;
        if (numeric && (option == kAny || option == info.option)) {
            values.push_back(Value{kCmdSystem, info.option, 0, info.width});
        }
    }
    return values;
}

std::vector<StreamControl::Value> StreamControl::subscribedValues() const {
    std::vector<Value> all;
    for (uint32_t key : subscriptions_) {
        for (const Value& value : valuesFor(key)) {
            bool seen = std::any_of(all.begin(), all.end(), [&](const Value& v) {
                return v.command == value.command && v.option == value.option &&
                       v.index == value.index;
            });
            if (!seen)
                all.push_back(value);
        }
    }
    return all;
}

void StreamControl::handle(const UeiRequest& request, uint8_t address, Outcome& outcome) {
    if (request.index != 0) {
        outcome.replies.push_back(ueiError(address, request, qErrInvalidEntity));
        return;
    }
    if (request.get) {
        if (request.option != kOptionEnable) {
            outcome.replies.push_back(ueiError(address, request, qErrInvalidOption));
            return;
        }
        outcome.replies.push_back(ueiValueReply(address, request, streaming() ? 1 : 0, 1));
        return;
    }
    if (request.option != kOptionEnable && request.option != kOptionDisable) {
        outcome.replies.push_back(ueiError(address, request, qErrInvalidOption));
        return;
    }
    uint32_t key = 0;
    if (!ueiNumericValue(request, 4, key)) {
        ErrorCode code = request.value.size() < 4 ? qErrShortCommand : qErrSize;
        outcome.replies.push_back(ueiError(address, request, code));
        return;
    }
    auto found = std::find(subscriptions_.begin(), subscriptions_.end(), key);
    if (request.option == kOptionEnable) {
        if (valuesFor(key).empty()) {
            outcome.replies.push_back(ueiError(address, request, qErrNotFound));
            return;
        }
        if (found == subscriptions_.end())
            subscriptions_.push_back(key);
    } else if (found != subscriptions_.end()) {
        subscriptions_.erase(found);
    }
    outcome.timingChanged = true;
    std::vector<uint8_t> echoed;
    appendBigEndian(echoed, key, 4);
    outcome.replies.push_back(ueiAck(address, request, echoed));
}

void StreamControl::collectSamples(uint8_t address, int64_t sinceStartMs, int64_t nowMs,
                                   std::vector<Packet>& out) {
    std::vector<Value> values = subscribedValues();
    size_t count = std::min(values.size(), kMaxSamplesPerTick);
    uint64_t timestamp = static_cast<uint64_t>(sinceStartMs);
    for (size_t i = 0; i < count; ++i) {
        const Value& value = values[(nextSample_ + i) % values.size()];
        uint32_t sample = 0;
        system_.readNumber(value.option, nowMs, sample);
        Packet packet(
            address, {value.command, value.option, static_cast<uint8_t>(value.index | kIndexStream),
                      sampleType(value.width)});
        appendBigEndian(packet.data, static_cast<uint32_t>(timestamp >> 32), 4);
        appendBigEndian(packet.data, static_cast<uint32_t>(timestamp), 4);
        appendBigEndian(packet.data, sample, value.width);
        packet.data.push_back(0);  // a single sample: sequence 0, nothing follows
        out.push_back(std::move(packet));
    }
    nextSample_ = values.empty() ? 0 : (nextSample_ + count) % values.size();
}

}  // namespace modulesim
