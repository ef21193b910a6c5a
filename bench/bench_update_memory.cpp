// Peak memory of a whole "Updater -U" run with an 8 MiB firmware image, against the module
// simulator, measured from the kernel's accounting of the finished child (its maximum resident
// set). Printed beside the limit of 3 times the image plus 20 MiB, with the run's CPU time (user +
// system) per KiB flashed.
//
//   bench_update_memory [--mib N]      (default 8)
//
// Run it under "scripts/netns-run --veth": Updater finds the simulated module by TCP/IP
// discovery, which needs a non-loopback interface.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "BackgroundProgram.h"
#include "BenchSupport.h"
#include "TestSupport.h"

namespace {

const std::string kBinary = ZV_BINARY_DIR;

bool writeImage(const std::string& path, size_t size) {
    // Random: the BIRD body must not compress.
    const std::string bytes = zvtest::pseudoRandomBytes(size, 12345);
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// What the kernel accounted to a finished child.
struct ChildUsage {
    long maxRssKiB = 0;
    double cpuSeconds = 0;  // user + system
};

// Runs argv to its end; its exit status, and its usage.
int runMeasured(const std::vector<std::string>& args, ChildUsage& measured) {
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        freopen("/dev/null", "w", stdout);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    measured.maxRssKiB = usage.ru_maxrss;
    measured.cpuSeconds = bench::toSeconds(usage.ru_utime) + bench::toSeconds(usage.ru_stime);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    size_t mib = 8;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--mib") == 0)
            mib = static_cast<size_t>(std::max(1, std::atoi(argv[i + 1])));
    }
    char dirTemplate[] = "/tmp/bench_update_memory.XXXXXX";
    if (mkdtemp(dirTemplate) == nullptr)
        return 1;
    const std::string dir = dirTemplate;
    const size_t imageBytes = mib * 1024 * 1024;
    if (!writeImage(dir + "/image.bin", imageBytes))
        return 1;
    std::ofstream(dir + "/big.txt") << "block type=0 address=0x10000000 random=1 size=1024\n"
                                    << "block type=1 address=0x00004000 file=image.bin stamp=4242\n"
                                    << "info build=4242 version=4.2.42 serial=5EED0003 "
                                       "model=Hub-4\n";
    ChildUsage usage;
    if (runMeasured(
            {kBinary + "/tools/birdtool/birdtool", "build", dir + "/big.txt", dir + "/big.bird"},
            usage) != 0) {
        std::fprintf(stderr, "birdtool could not build the image\n");
        return 1;
    }
    zvtest::BackgroundProgram sim(
        kBinary + "/tools/modulesim/modulesim",
        {"--duration", "600", "--module",
         "serial=5EED0003,model=3,address=4,hb-ms=0,features=0x80000000,block-size=4096,"
         "tcp=10.77.0.2:0"});
    if (!sim.waitReady()) {
        std::fprintf(stderr, "the module simulator did not start\n");
        return 1;
    }
    int status = runMeasured({kBinary + "/Updater", "-i", dir + "/store", "-U", "-d", "5EED0003",
                              "-f", dir + "/big.bird", "-m"},
                             usage);
    const double rss = usage.maxRssKiB;
    const double limitMiB = 3.0 * mib + 20;
    std::printf("Peak memory of \"Updater -U -m\" with a %zu MiB image\n", mib);
    std::printf("  exit status          %d\n", status);
    std::printf("  peak resident set    %8.1f MiB\n", rss / 1024.0);
    std::printf("  limit (3 x image+20) %8.1f MiB   ratio %.2f\n", limitMiB,
                rss / 1024.0 / limitMiB);
    std::printf("  CPU of the run       %8.2f s     (%.1f us per KiB flashed)\n", usage.cpuSeconds,
                usage.cpuSeconds / (imageBytes / 1024.0) * 1e6);
    std::string cleanup = "rm -rf '" + dir + "'";
    return std::system(cleanup.c_str()) == 0 && status == 0 ? 0 : 1;
}
