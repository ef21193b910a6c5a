// LPC recovery throughput: "Updater -U -t RECOVER" writes an image into the LPC17xx bootloader
// simulator over a pseudo-terminal paced to the serial line's rate. Prints the image bytes per
// second, the bytes that must cross the line for it (uuencoded data, checksums, commands and
// their answers) and the time the line alone needs for them, the time the chip itself is busy
// (erase and flash programming as the simulator models them), and what is left: the host's own
// waits; and the line's own limit (bytes/s of the baud rate, ten bits a byte: start, eight data
// bits, stop) beside the image bytes/s and the bytes/s that did cross the line. Then, side by side
// in one run, the same write made in-process with and without the compare that follows every
// copy, and what the compares cost. Each run's CPU time (user + system) per KiB flashed is printed
// beside it: Updater's own (a child that has ended), and this process's for the in-process writes.
//
//   bench_lpc_recovery [--kib N] [--baud B] [--updater-only]   (defaults: 256 KiB, 115200 baud)
//
// --updater-only leaves out the in-process writes.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "BackgroundProgram.h"
#include "BenchSupport.h"
#include "QuietDisplay.h"
#include "BirdFile.h"
#include "RecoverySteps.h"
#include "TestSupport.h"

namespace {

constexpr uint32_t kChunk = 4096;
constexpr uint32_t kLineBytes = 45;
constexpr uint32_t kLinesPerChecksum = 20;
constexpr uint32_t kStaging = 0x10001000;
// The simulator's chip timing (its defaults).
constexpr double kEraseMsPerSector = 100;
constexpr double kWriteMsPer256 = 1;
constexpr int kSectors = 30;

size_t commandBytes(const std::string& command) {
    return command.size() + 3;  // the command and its return code "0\r\n"
}

// The compare after a copy: "M flash ram count" and its return code; a chunk at 0 is compared
// from byte 64 on, past the boot ROM's vectors.
size_t compareBytes(uint32_t target, uint32_t length) {
    const uint32_t skip = target == 0 ? 64 : 0;
    return commandBytes("M " + std::to_string(target + skip) + " " +
                        std::to_string(kStaging + skip) + " " + std::to_string(length - skip) +
                        "\r\n");
}

// What crosses the line to write one chunk with echo off: the W command, its data lines and
// checksum exchanges, then P and C.
size_t chunkBytes(uint32_t target, uint32_t length) {
    uint32_t copy = 256;
    while (copy < length) {
        copy *= 2;
        if (copy == 2048) {
            copy = 4096;  // the ROM copies 256, 512, 1024 or 4096 bytes
        }
    }
    size_t bytes =
        commandBytes("W " + std::to_string(kStaging) + " " + std::to_string(copy) + "\r\n");
    uint32_t lines = 0;
    for (uint32_t done = 0; done < copy; done += kLineBytes) {
        uint32_t n = std::min(kLineBytes, copy - done);
        bytes += 1 + 4 * ((n + 2) / 3) + 2;
        ++lines;
        if (lines % kLinesPerChecksum == 0 || done + n == copy) {
            bytes += std::to_string(255u * kLinesPerChecksum * kLineBytes).size() + 2 + 4;
        }
    }
    uint32_t first = target < 0x10000 ? target / 0x1000 : 16 + (target - 0x10000) / 0x8000;
    bytes += commandBytes("P " + std::to_string(first) + " " + std::to_string(first) + "\r\n");
    bytes += commandBytes("C " + std::to_string(target) + " " + std::to_string(kStaging) + " " +
                          std::to_string(copy) + "\r\n");
    return bytes + compareBytes(target, length);
}

// A chip of its own for each run: the ROM stops answering once the code is started.
struct PacedChip {
    PacedChip()
        : program(std::string(ZV_BINARY_DIR) + "/tools/lpcsim/lpcsim",
                  {"--baud-limit", "--device-id", "1,2,3,4", "--duration", "900"}) {}
    bool ready() { return program.waitReady(); }
    std::string port() const { return program.startupValue("pty"); }
    zvtest::BackgroundProgram program;
};

struct Measured {
    double seconds = -1;
    double cpuSeconds = 0;
};

// The LPC write step alone (erase, chunks, start) after identification, in this process; seconds
// negative on failure.
Measured timeFlashWrite(const std::string& birdPath, int baud, bool compareAfterCopy) {
    Measured measured;
    PacedChip chip;
    if (!chip.ready()) {
        return measured;
    }
    BirdFile file(birdPath.c_str());
    const unsigned key[4] = {1, 2, 3, 4};
    if (!file.DecodeFirmwareBlocks(key)) {
        return measured;
    }
    zvtest::QuietDisplay display;
    Fingerprint fingerprint;
    std::string port = chip.port();
    // Identification synchronises with the ROM, as the recovery does before it writes.
    if (!_get_fingerprint_lpc(port, 115200, fingerprint)) {
        return measured;
    }
    bench::CpuMeter cpu;
    auto start = std::chrono::steady_clock::now();
    if (_recover_firmware_lpc(display, file, port, unsigned(baud), fingerprint, false,
                              compareAfterCopy)) {
        measured.seconds = bench::secondsSince(start);
        measured.cpuSeconds = cpu.seconds();
    }
    return measured;
}

bool hasFlag(int argc, char** argv, const char* name) {
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], name) == 0) {
            return true;
        }
    }
    return false;
}

int parseArg(int argc, char** argv, const char* name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (strcmp(argv[i], name) == 0) {
            return atoi(argv[i + 1]);
        }
    }
    return fallback;
}

}  // namespace

int main(int argc, char** argv) {
    const uint32_t imageBytes = uint32_t(parseArg(argc, argv, "--kib", 256)) * 1024;
    const int baud = parseArg(argc, argv, "--baud", 115200);
    zvtest::TempDir work;

    const std::string image = zvtest::pseudoRandomBytes(imageBytes, 12345);
    zvtest::writeFile(work.file("image.bin"), image);
    zvtest::writeFile(work.file("image.txt"),
                      "block type=1 address=0x00000000 file=image.bin\n"
                      "info build=2000 version=3.0.0 serial=40F5849A model=Hub-4\n"
                      "scramble 1 2 3 4\n");
    zvtest::RunResult built = zvtest::runProgram(
        zvtest::birdtoolBinary(), {"build", work.file("image.txt"), work.file("image.bird")});
    if (built.exitCode != 0) {
        fprintf(stderr, "birdtool: %s\n", built.err.c_str());
        return 1;
    }
    PacedChip chip;
    if (!chip.ready()) {
        fprintf(stderr, "lpcsim did not start\n");
        return 1;
    }
    const std::string port = chip.port();
    // Only Updater ends and is waited for in between: the children's CPU grows by its own.
    const double childCpuBefore = bench::cpuSeconds(RUSAGE_CHILDREN);
    auto start = std::chrono::steady_clock::now();
    zvtest::RunResult run = zvtest::runProgram(
        zvtest::updaterBinary(), {"-U", "-t", "RECOVER", "-s", port, "-o", std::to_string(baud),
                                  "-f", work.file("image.bird"), "-i", work.path()});
    const double seconds = bench::secondsSince(start);
    const double updaterCpu = bench::cpuSeconds(RUSAGE_CHILDREN) - childCpuBefore;
    if (run.exitCode != 0) {
        fprintf(stderr, "recovery failed: %s%s\n", run.out.c_str(), run.err.c_str());
        return 1;
    }

    size_t lineBytes = 0;
    for (uint32_t offset = 0; offset < imageBytes; offset += kChunk) {
        lineBytes += chunkBytes(offset, std::min(kChunk, imageBytes - offset));
    }
    const double lineSeconds = double(lineBytes) * 10.0 / baud;
    const double chipSeconds =
        (kSectors * kEraseMsPerSector + imageBytes / 256.0 * kWriteMsPer256) / 1000.0;
    const double lineLimit = baud / 10.0;
    const double kib = imageBytes / 1024.0;
    printf("LPC recovery of %u KiB at %d baud over a paced pseudo-terminal\n", imageBytes / 1024,
           baud);
    printf("  total time                 %8.2f s   (%.0f image bytes/s)\n", seconds,
           imageBytes / seconds);
    printf("  bytes across the line      %8zu     (%.2f per image byte)\n", lineBytes,
           double(lineBytes) / imageBytes);
    printf("  line time for them         %8.2f s   (ratio to total %.2f)\n", lineSeconds,
           lineSeconds / seconds);
    printf("  chip busy (erase, program) %8.2f s\n", chipSeconds);
    printf("  host waits and the rest    %8.2f s\n", seconds - lineSeconds - chipSeconds);
    printf("  line limit, 10 bits a byte %8.0f bytes/s\n", lineLimit);
    printf("  image bytes/s              %8.0f bytes/s   (ratio to the line limit %.2f)\n",
           imageBytes / seconds, imageBytes / seconds / lineLimit);
    printf("  bytes/s across the line    %8.0f bytes/s   (ratio to the line limit %.2f)\n",
           lineBytes / seconds, lineBytes / seconds / lineLimit);
    printf("  CPU of Updater             %8.3f s   (%.1f us per KiB flashed)\n", updaterCpu,
           updaterCpu / kib * 1e6);
    if (hasFlag(argc, argv, "--updater-only")) {
        return 0;
    }

    const Measured compared = timeFlashWrite(work.file("image.bird"), baud, true);
    const Measured uncompared = timeFlashWrite(work.file("image.bird"), baud, false);
    if (compared.seconds < 0 || uncompared.seconds < 0) {
        fprintf(stderr, "the in-process flash write failed\n");
        return 1;
    }
    size_t compareLineBytes = 0;
    uint32_t chunks = 0;
    for (uint32_t offset = 0; offset < imageBytes; offset += kChunk, ++chunks) {
        compareLineBytes += compareBytes(offset, std::min(kChunk, imageBytes - offset));
    }
    printf("Flash write step alone, side by side (%u chunks):\n", chunks);
    printf("  with a compare after every copy    %8.2f s   (CPU %.1f us per KiB flashed)\n",
           compared.seconds, compared.cpuSeconds / kib * 1e6);
    printf("  without compares (bench only)      %8.2f s   (CPU %.1f us per KiB flashed)\n",
           uncompared.seconds, uncompared.cpuSeconds / kib * 1e6);
    const double cost = compared.seconds - uncompared.seconds;
    printf("  the compares cost                  %8.2f s   (%.1f ms each, ratio %.3f)\n", cost,
           1000.0 * cost / chunks, compared.seconds / uncompared.seconds);
    printf("  their bytes across the line        %8zu     (line time %.3f s)\n", compareLineBytes,
           double(compareLineBytes) * 10.0 / baud);
    return 0;
}
