// Plays the module's side of a link: the host's packets arrive here over a socket pair (whose
// other end the host uses as its stream) or over a TCP connection to a module port on 127.0.0.1.
// A reader thread keeps every byte the host sends, cuts them into packets, records those and
// answers each with the packets a test's script gives. Tests read the raw bytes, the recorded
// packets, or both, and may send bytes or packets of their own (samples, heartbeats, noise).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Eventually.h"
#include "LoopbackListener.h"
#include "WirePacket.h"
#include "qLink.h"
#include "qStream.h"

namespace zvtest {

class ModulePeer {
  public:
    // The packets (possibly none) that answer one packet from the host.
    using Script = std::function<std::vector<WirePacket>(const WirePacket& received)>;
    struct OwnTcpPort {};
    static constexpr OwnTcpPort kOwnTcpPort{};

    // Over a socket pair: the host end is handed out once, by stream() or makeEngineLink().
    ModulePeer();
    // As a module with its own TCP/IP port on 127.0.0.1 (port()): takes the first connection.
    explicit ModulePeer(OwnTcpPort);
    ~ModulePeer();
    ModulePeer(const ModulePeer&) = delete;
    ModulePeer& operator=(const ModulePeer&) = delete;

    uint16_t port() const;
    // The host's end of the socket pair as a stream; whoever is handed it owns it.
    qStream* stream();
    // A running engine link over that stream; the caller owns it.
    qLinkID makeEngineLink();

    // Route commands are the link's own and never answered; every other packet goes to the script.
    void setResponder(Script script);
    void send(const std::string& wireBytes);
    void send(const WirePacket& packet);

    // Raw bytes from the host, consumed in order: exactly count bytes, or fewer when they do not
    // come in time or the host end closes.
    std::string receive(size_t count, int timeoutMs = 5000);
    // Whatever arrives until the line has been silent for quietMs.
    std::string receiveUntilSilent(int quietMs);

    // Every packet received so far.
    std::vector<WirePacket> received();
    // The same without the link's own route commands and heartbeat answers.
    std::vector<WirePacket> requests();
    bool waitForRequests(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(5));

    // Only over a socket pair, hooks in the host's stream. Quiet: its reads wait for a byte
    // instead of reporting "no byte" after a moment, so the only silences the link sees are the
    // ones poke() makes (longer than the stream says a get waits: a caller of qLink_AwaitFirst
    // that reads the stream itself then waits for a byte or a poke too).
    void setQuiet(bool quiet);
    void poke();
    // Writes block until released, so that packets pile up in the outbound queue.
    void holdWrites();
    void releaseWrites();
    // Number of writes the link has begun, and the sizes of those it made.
    size_t writesBegun();
    std::vector<size_t> writeSizes();
    // The thread that made each of those writes.
    std::vector<std::thread::id> writingThreads();
    // The thread that read the last byte from the host's end.
    std::thread::id lastReadingThread();
    void clearWriteSizes();

    struct HostEnd;

  private:
    void start(std::function<bool()> connect);
    void run();
    void take(const std::string& chunk);
    void handle(const WirePacket& packet);

    std::shared_ptr<HostEnd> host_;
    std::unique_ptr<LoopbackListener> listener_;
    std::atomic<int> moduleFd_{-1};
    std::atomic<bool> running_{true};
    std::mutex sendLock_;
    std::mutex lock_;
    std::condition_variable arrived_;
    std::string unread_;
    std::string partial_;
    bool hostClosed_ = false;
    std::vector<WirePacket> received_;
    Script script_;
    std::thread reader_;
};

}  // namespace zvtest
