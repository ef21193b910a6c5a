#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "unix_mutex.h"
#include "unix_thread.h"
#include "unix_time.h"

namespace {

TEST(MutexTest, NamesUpTo255Characters) {
    qMutex* named = qMutex_Create(std::string(255, 'n').c_str());
    ASSERT_NE(named, nullptr);
    EXPECT_EQ(std::string(qMutex_Identifier(named)), std::string(255, 'n'));
    EXPECT_EQ(qMutex_Create(std::string(256, 'n').c_str()), nullptr);
    qMutex* unnamed = qMutex_Create(nullptr);
    ASSERT_NE(unnamed, nullptr);
    EXPECT_STREQ(qMutex_Identifier(unnamed), "");
    EXPECT_EQ(qMutex_Identifier(nullptr), nullptr);
    EXPECT_EQ(qMutex_Destroy(&named), qErrNone);
    EXPECT_EQ(named, nullptr);
    EXPECT_EQ(qMutex_Destroy(&unnamed), qErrNone);
}

// The thread sanitizer reports an unlock by a non-owner or the destruction of a held mutex as a
// fault of its own, even when the test provokes it on purpose to check the error code.
#if defined(__SANITIZE_THREAD__)
constexpr bool kProvokeMisuse = false;
#else
constexpr bool kProvokeMisuse = true;
#endif

TEST(MutexTest, OwnershipErrorsAreMapped) {
    qMutex* mutex = qMutex_Create("link table");
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(qMutex_Lock(mutex), qErrNone);
    EXPECT_EQ(qMutex_Lock(mutex), qErrDuplicate);

    qErr otherTry = qErrUnknown;
    qErr otherUnlock = qErrPermission;
    std::thread other([&] {
        otherTry = qMutex_TryLock(mutex);
        if (kProvokeMisuse) {
            otherUnlock = qMutex_Unlock(mutex);
        }
    });
    other.join();
    EXPECT_EQ(otherTry, qErrBusy);
    EXPECT_EQ(otherUnlock, qErrPermission);

    EXPECT_EQ(qMutex_Unlock(mutex), qErrNone);
    if (kProvokeMisuse) {
        EXPECT_EQ(qMutex_Unlock(mutex), qErrPermission);
    }
    EXPECT_EQ(qMutex_TryLock(mutex), qErrNone);
    if (kProvokeMisuse) {
        // Destroying a held mutex reports it, but the record is released all the same.
        EXPECT_EQ(qMutex_Destroy(&mutex), qErrBusy);
    } else {
        EXPECT_EQ(qMutex_Unlock(mutex), qErrNone);
        EXPECT_EQ(qMutex_Destroy(&mutex), qErrNone);
    }
    EXPECT_EQ(mutex, nullptr);
    EXPECT_EQ(qMutex_Lock(nullptr), qErrParam);
    EXPECT_EQ(qMutex_Destroy(&mutex), qErrParam);
}

void* markDone(void* argument) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    static_cast<std::atomic<bool>*>(argument)->store(true);
    return nullptr;
}

TEST(ThreadTest, DestroyWaitsForTheThread) {
    std::atomic<bool> done{false};
    qThread* thread = qThread_Create(markDone, &done);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(qThread_Destroy(&thread), qErrNone);
    EXPECT_TRUE(done.load());
    EXPECT_EQ(thread, nullptr);
    EXPECT_EQ(qThread_Destroy(&thread), qErrParam);
    EXPECT_EQ(qThread_Create(nullptr, nullptr), nullptr);
    qThread_Yield();
}

TEST(TimeTest, TicksAreWallClockMilliseconds) {
    auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
                   .count();
    uint64_t ticks = qTime_GetMSTicks();
    EXPECT_NEAR(static_cast<double>(ticks), static_cast<double>(now), 60000.0);
}

TEST(TimeTest, SleepLastsAtLeastItsLengthAcrossPieces) {
    auto start = std::chrono::steady_clock::now();
    qTime_MSSleep(1050);
    auto slept = std::chrono::steady_clock::now() - start;
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(slept).count(), 1050);
    qTime_MSSleep(0);
}

}  // namespace
