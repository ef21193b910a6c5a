// Stream subscriptions. The module streams a sample whenever it takes one; the link keeps the
// latest sample of each stream for later gets and hands each packet to the subscriber's callback
// on a worker thread, so that a slow callback never holds up the engine's reader thread.
#include <chrono>

#include "LinkImpl.h"
#include "qUEI.h"

namespace Pelmorax {
namespace Zendrival {

namespace {

// Options of the module's stream-control entity.
enum StreamControlOption : uint8_t {
    STREAM_QUERY_OPTION = 1,
    STREAM_ENABLE_OPTION = 0x81,
    STREAM_DISABLE_OPTION = 0x82,
};
constexpr auto WORKER_POLL = std::chrono::milliseconds(1);

bool elementMatches(uint8_t filter, uint8_t element) {
    return filter == Link::STREAM_ANY || filter == element;
}

bool keyMatches(uint64_t key, uint64_t filter) {
    for (uint8_t e = Link::STREAM_KEY_MODULE; e <= Link::STREAM_KEY_SUBINDEX; ++e) {
        const auto element = static_cast<Link::STREAM_KEY>(e);
        if (!elementMatches(Link::getStreamKeyElement(filter, element),
                            Link::getStreamKeyElement(key, element))) {
            return false;
        }
    }
    return true;
}

bool isConcreteKey(uint64_t key) {
    for (uint8_t e = Link::STREAM_KEY_MODULE; e <= Link::STREAM_KEY_SUBINDEX; ++e) {
        if (Link::getStreamKeyElement(key, static_cast<Link::STREAM_KEY>(e)) == Link::STREAM_ANY) {
            return false;
        }
    }
    return true;
}

}  // namespace

void Link::impl::asyncWork(std::shared_ptr<AsyncQueue> queue, std::future<void> stop) {
    while (stop.wait_for(WORKER_POLL) != std::future_status::ready) {
        asyncPacket item;
        while (queue->pop(item)) {
            if (item.callback) {
                item.callback(item.packet.get(), item.context);
            }
            item = asyncPacket();
        }
        std::this_thread::sleep_for(WORKER_POLL);
    }
}

void Link::impl::startAsyncWorker() {
    if (asyncWorker.joinable()) {
        return;
    }
    auto queue = std::make_shared<AsyncQueue>(LINK_ASYNC_QUEUE_CAPACITY);
    {
        std::lock_guard<std::mutex> guard(streamMutex);
        asyncQueue = queue;
    }
    asyncWorker = std::thread(asyncWork, queue, stopPromise.get_future());
}

void Link::impl::stopAsyncWorker() {
    {
        std::lock_guard<std::mutex> guard(streamMutex);
        asyncQueue.reset();
    }
    if (!asyncWorker.joinable()) {
        return;
    }
    stopPromise.set_value();
    // A callback that unsubscribes the last stream stops its own worker: it cannot join itself,
    // and ends on its own once the callback returns (it holds its own share of the queue).
    if (asyncWorker.get_id() == std::this_thread::get_id()) {
        asyncWorker.detach();
    } else {
        asyncWorker.join();
    }
    stopPromise = std::promise<void>();
}

qErr Link::impl::installStreamFilter(bool install) {
    if (install) {
        if (m_stem == 0) {
            return qErrConnection;
        }
        startAsyncWorker();
        const qErr result = qLink_InstallUserPacketFilter(m_stem, Link::linkStreamFilter, this);
        if (result != qErrNone) {
            return result;
        }
        streamFilterInstalled = true;
        return qErrNone;
    }
    // Once the engine returns from removing the filter the reader thread no longer runs it, so
    // the queue has no producer left when the worker is stopped.
    if (streamFilterInstalled && m_stem != 0) {
        qLink_InstallUserPacketFilter(m_stem, nullptr, nullptr);
    }
    streamFilterInstalled = false;
    {
        std::lock_guard<std::mutex> guard(streamMutex);
        streams.clear();
    }
    stopAsyncWorker();
    return qErrNone;
}

void Link::impl::queueAsyncCallback(const StreamEntry& entry, const qPacket* packet) {
    if (!entry.callback || !asyncQueue) {
        return;
    }
    asyncPacket item;
    item.callback = entry.callback;
    item.context = entry.context;
    item.packet.reset(qPacket_Copy(packet));
    if (item.packet) {
        // A full queue drops the sample rather than hold up the reader thread.
        asyncQueue->push(std::move(item));
    }
}

uint8_t Link::linkStreamFilter(const qPacket* packet, void* linkImpl) {
    impl* self = static_cast<impl*>(linkImpl);
    STREAM_PACKET type;
    if (self == nullptr || !getStreamPacketType(packet, &type)) {
        return 0;
    }
    const uint8_t subIndex = isSubindexType(type) ? packet->data[4] : 0;
    const uint64_t key = createStreamKey(packet->address, packet->data[qUEI_CMD_BYTE],
                                         packet->data[qUEI_OPTION_BYTE] & qUEI_OPTION_MASK,
                                         packet->data[qUEI_INDEX_BYTE] & qUEI_INDEX_MASK, subIndex);
    uint32_t value = 0;
    const bool sample = getStreamSample(packet, nullptr, &value, nullptr) == qErrNone;

    std::lock_guard<std::mutex> guard(self->streamMutex);
    auto exact = self->streams.find(key);
    const bool hadExact = exact != self->streams.end();
    if (hadExact) {
        self->queueAsyncCallback(exact->second, packet);
        if (sample) {
            exact->second.value = value;
            exact->second.fresh = true;
        }
    }
    bool genericMatched = false;
    for (uint8_t i = 0; i < GENERIC_STREAM_KEY_MASKS; ++i) {
        auto generic = self->streams.find(key | _getGenericStreamKeyMask(i));
        if (generic != self->streams.end()) {
            genericMatched = true;
            self->queueAsyncCallback(generic->second, packet);
        }
    }
    if (!hadExact && genericMatched && sample) {
        StreamEntry entry;
        entry.key = key;
        entry.value = value;
        entry.fresh = true;
        self->streams.emplace(key, std::move(entry));
    }
    return 1;
}

std::vector<uint64_t> Link::filterActiveStreamKeys(uint8_t module, uint8_t command, uint8_t option,
                                                   uint8_t index, uint8_t subIndex, bool lock) {
    const uint64_t filter = createStreamKey(module, command, option, index, subIndex);
    std::unique_lock<std::mutex> guard(m_impl->streamMutex, std::defer_lock);
    if (lock) {
        guard.lock();
    }
    std::vector<uint64_t> keys;
    for (const auto& entry : m_impl->streams) {
        if (keyMatches(entry.first, filter)) {
            keys.push_back(entry.first);
        }
    }
    return keys;
}

void Link::impl::eraseMatchingStreams(uint64_t key) {
    const uint64_t filter = key;
    std::lock_guard<std::mutex> guard(streamMutex);
    for (auto it = streams.begin(); it != streams.end();) {
        it = keyMatches(it->first, filter) ? streams.erase(it) : std::next(it);
    }
}

qErr Link::impl::tellModuleStream(uint64_t key, bool enable) {
    const uint8_t module = getStreamKeyElement(key, STREAM_KEY_MODULE);
    uei request;
    request.module = module;
    request.command = STREAM_CONTROL_COMMAND;
    request.option = enable ? STREAM_ENABLE_OPTION : STREAM_DISABLE_OPTION;
    request.specifier = qUEI_INDEX_REQUEST;
    request.type = ueiTypeInt;
    request.value.u32 = static_cast<uint32_t>(key);
    qErr result = owner->sendUEI(request);
    if (result != qErrNone) {
        return result;
    }
    uei reply;
    result = owner->receiveUEI(module, STREAM_CONTROL_COMMAND,
                               request.option | qUEI_OPTION_GET | qUEI_OPTION_SET, 0, &reply);
    if (result == qErrNone && (reply.specifier & qUEI_INDEX_ERROR) != 0) {
        return static_cast<qErr>(reply.value.u8);
    }
    return result;
}

qErr Link::registerStreamCallback(uint8_t module, uint8_t command, uint8_t option, uint8_t index,
                                  bool enable, StreamCallback callback, void* context) {
    if ((module & 1) != 0 || module == STREAM_ANY) {
        return qErrParam;
    }
    const uint64_t key = createStreamKey(module, command, option, index, STREAM_ANY);
    bool empty;
    {
        std::lock_guard<std::mutex> guard(m_impl->streamMutex);
        if (enable) {
            StreamEntry& entry = m_impl->streams[key];
            entry.key = key;
            entry.callback = std::move(callback);
            entry.context = context;
        } else {
            for (uint64_t active :
                 filterActiveStreamKeys(module, command, option, index, STREAM_ANY, false)) {
                m_impl->streams.erase(active);
            }
        }
        empty = m_impl->streams.empty();
    }
    qErr result = m_impl->installStreamFilter(!empty);
    if (result == qErrNone) {
        result = m_impl->tellModuleStream(key, enable);
    }
    if (result != qErrNone) {
        m_impl->eraseMatchingStreams(key);
        bool nowEmpty;
        {
            std::lock_guard<std::mutex> guard(m_impl->streamMutex);
            nowEmpty = m_impl->streams.empty();
        }
        // A subscription that never came about must not leave a filter and a worker behind.
        if (nowEmpty && (m_impl->streamFilterInstalled || m_impl->asyncWorker.joinable())) {
            m_impl->installStreamFilter(false);
        }
    }
    return result;
}

qErr Link::enableStream(uint8_t module, uint8_t command, uint8_t option, uint8_t index,
                        bool enable) {
    return registerStreamCallback(module, command, option, index, enable, StreamCallback(),
                                  nullptr);
}

qErr Link::getStreamValue(uint8_t module, uint8_t command, uint8_t option, uint8_t index,
                          uint8_t subIndex, uint32_t* value) {
    if (value == nullptr) {
        return qErrParam;
    }
    const uint64_t key = createStreamKey(module, command, option, index, subIndex);
    std::lock_guard<std::mutex> guard(m_impl->streamMutex);
    auto entry = m_impl->streams.find(key);
    if (entry == m_impl->streams.end()) {
        return qErrNotFound;
    }
    *value = entry->second.value;
    if (entry->second.fresh) {
        entry->second.fresh = false;
        return qErrNone;
    }
    return qErrStreamStale;
}

qErr Link::getStreamStatus(uint8_t module, uint8_t command, uint8_t option, uint8_t index,
                           uint8_t subIndex, StreamStatusEntry* entries, size_t capacity,
                           size_t* count) {
    if (!isConnected()) {
        return qErrConnection;
    }
    if (entries == nullptr || count == nullptr || capacity == 0) {
        return qErrParam;
    }
    const uint64_t filter = createStreamKey(module, command, option, index, subIndex);
    size_t filled = 0;
    qErr result = qErrNone;
    std::lock_guard<std::mutex> guard(m_impl->streamMutex);
    for (const auto& entry : m_impl->streams) {
        if (!keyMatches(entry.first, filter) || !isConcreteKey(entry.first)) {
            continue;
        }
        if (filled == capacity) {
            result = qErrSize;
            break;
        }
        entries[filled++] = StreamStatusEntry{entry.first, entry.second.value};
    }
    *count = filled;
    return result;
}

qErr Link::isLinkStreaming(uint8_t module, uint8_t* streaming) {
    if (streaming == nullptr) {
        return qErrParam;
    }
    uei request;
    request.module = module;
    request.command = STREAM_CONTROL_COMMAND;
    request.option = STREAM_QUERY_OPTION | qUEI_OPTION_GET;
    request.specifier = qUEI_INDEX_REQUEST;
    qErr result = sendUEI(request);
    if (result != qErrNone) {
        return result;
    }
    uei reply;
    result = receiveUEI(module, STREAM_CONTROL_COMMAND, STREAM_QUERY_OPTION, 0, &reply);
    if (result != qErrNone) {
        return result;
    }
    if ((reply.specifier & qUEI_INDEX_ERROR) != 0) {
        return static_cast<qErr>(reply.value.u8);
    }
    *streaming = reply.value.u8;
    return qErrNone;
}

}  // namespace Zendrival
}  // namespace Pelmorax
