// Signals the program handles itself must not stop the server's or the client's worker threads,
// and an interrupt caught by CZMQ's own handler must still end the program as Ctrl+C does.
#include <arpa/inet.h>
#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ServerFixture.h"
#include "qLinkSpec.h"
#include "qStream.h"
#include "qStream_ZeroMQClient.h"
#include "unix_time.h"

namespace {

// Lock-free, so safe to touch from a handler running on any thread.
std::atomic<int> signalsSeen{0};

void countSignal(int) {
    signalsSeen.fetch_add(1, std::memory_order_relaxed);
}

// A handler installed without SA_RESTART, as many programs do for SIGCHLD or SIGUSR1: blocking
// calls of every thread it lands in return with EINTR.
class CaughtSignal {
  public:
    CaughtSignal() {
        struct sigaction action {};
        action.sa_handler = countSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGUSR1, &action, &previous_);
    }
    ~CaughtSignal() { sigaction(SIGUSR1, &previous_, nullptr); }

  private:
    struct sigaction previous_ {};
};

std::vector<pid_t> threadsOfThisProcess() {
    std::vector<pid_t> threads;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) {
        return threads;
    }
    while (dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] != '.') {
            threads.push_back(static_cast<pid_t>(atoi(entry->d_name)));
        }
    }
    closedir(tasks);
    return threads;
}

// Interrupts every thread a few times, each while it waits in whatever it waits in.
int interruptEveryThread(int rounds) {
    int sent = 0;
    for (int round = 0; round < rounds; round++) {
        for (pid_t thread : threadsOfThisProcess()) {
            if (syscall(SYS_tgkill, getpid(), thread, SIGUSR1) == 0) {
                sent++;
            }
        }
        qTime_MSSleep(20);
    }
    return sent;
}

std::string echoThrough(qLinkID client, uint8_t tag) {
    const uint8_t data[] = {23, tag};
    qPacket* request = qPacket_CreateWithData(4, sizeof data, data);
    qErr err = qLink_PutPacket(client, request);
    qPacket_Destroy(&request);
    if (err != qErrNone) {
        return "";
    }
    qPacket* reply = qLink_AwaitPacket(client, 5000);
    if (reply == nullptr) {
        return "";
    }
    std::string bytes(reinterpret_cast<const char*>(reply->data), reply->dataSize);
    qPacket_Destroy(&reply);
    return bytes;
}

}  // namespace

TEST_F(ServerFixture, SignalsTheProgramCatchesDoNotStopTheWorkerThreads) {
    ZV_SERVER_NETWORK_OR_SKIP();
    ASSERT_NE(publish(), 0u);
    CaughtSignal caught;
    signalsSeen = 0;
    EXPECT_GT(interruptEveryThread(10), 0);
    EXPECT_GT(signalsSeen.load(), 0);
    for (uint8_t tag = 1; tag <= 5; tag++) {
        EXPECT_EQ(hex(echoThrough(client_, tag)), hex(std::string{23, static_cast<char>(tag)}))
            << "request " << static_cast<int>(tag) << " after the signals";
    }
}

TEST(ClientInterrupt, CtrlCCaughtByCzmqStillEndsTheProgram) {
    ZV_SERVER_NETWORK_OR_SKIP();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // A CURVE server on the test network holding the key the client trusts.
            NetworkKeys keys;
            zcert_t* trusted = zcert_load((keys.directory() + "/server.key").c_str());
            CurveListener listener(trusted);
            linkSpec spec = qLinkSpec_Of(linkTypeNetworkClientTCPIP, 0x1234);
            spec.ipAddress = inet_addr(kVethAddress);
            spec.port = static_cast<uint32_t>(listener.port);
            memcpy(spec.reserved, zcert_public_key(trusted), 32);
            qStream* stream = nullptr;
            if (qStream_CreateClientForSpec(&spec, &stream) != qErrNone) {
                _exit(3);
            }
            // What CZMQ's own SIGINT handler records when a program lets it catch Ctrl+C.
            zsys_interrupted = 1;
            for (int waited = 0; waited < 5000; waited += 10) {
                qTime_MSSleep(10);
            }
            _exit(0);
        },
        ::testing::KilledBySignal(SIGINT), "");
}
