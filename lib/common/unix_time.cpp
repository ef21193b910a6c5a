#include "unix_time.h"

#include <cerrno>
#include <ctime>
#include <sys/time.h>

namespace {

// Longest single sleep handed to the system: some sleep calls refuse a full second or more.
constexpr uint64_t kMaxSleepPieceUs = 999999;

void sleepMicroseconds(uint64_t us) {
    timespec wanted{static_cast<time_t>(us / 1000000), static_cast<long>((us % 1000000) * 1000)};
    timespec left{};
    while (nanosleep(&wanted, &left) != 0 && errno == EINTR) {
        wanted = left;
    }
}

}  // namespace

uint64_t qTime_GetMSTicks() {
    timeval now{};
    if (gettimeofday(&now, nullptr) != 0) {
        return 0;
    }
    uint64_t ms =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_usec) / 1000u;
    return ms == UINT64_MAX ? 0 : ms;
}

void qTime_MSSleep(uint32_t ms) {
    uint64_t remaining = static_cast<uint64_t>(ms) * 1000u;
    while (remaining > 0) {
        uint64_t piece = remaining < kMaxSleepPieceUs ? remaining : kMaxSleepPieceUs;
        sleepMicroseconds(piece);
        remaining -= piece;
    }
}
