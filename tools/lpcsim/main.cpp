// lpcsim: the ROM bootloader of an NXP LPC17xx chip on a pseudo-terminal, for the recovery
// path of Updater and third-party ISP tools to be tried and tested without a chip.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "DeviceMemory.h"
#include "FlashModel.h"
#include "IspSession.h"
#include "Pty.h"
#include "SimLoop.h"
#include "SimOptions.h"
#include "StopSignals.h"
#include "Trace.h"

using namespace lpcsim;

namespace {

void saveFlash(const FlashModel& flash, const std::string& path) {
    std::string why;
    if (!path.empty() && !flash.save(path, &why)) {
        std::fprintf(stderr, "lpcsim: %s\n", why.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    SimOptions options;
    const int exitCode = readCommandLine(argc, argv, options);
    if (exitCode >= 0) {
        return exitCode;
    }
    std::string why;
    FlashModel flash;
    if (!options.flashInitial.empty() && !flash.load(options.flashInitial, &why)) {
        std::fprintf(stderr, "lpcsim: %s\n", why.c_str());
        return 2;
    }
    simtools::Pty port;
    const int stopFd = simtools::installStopSignals();
    if (stopFd < 0) {
        std::fprintf(stderr, "lpcsim: cannot watch for stop signals\n");
        return 1;
    }
    // A serial line carries bytes as they are, at the ROM's usual rate, until the host says
    // otherwise.
    if (!port.open(simtools::PtyLine{B115200, false}, why)) {
        std::fprintf(stderr, "lpcsim: %s\n", why.c_str());
        return 1;
    }
    DeviceMemory memory(flash);
    Trace trace(options.log);
    IspSession session(options, memory, trace, [&] { saveFlash(flash, options.flashPath); });
    std::printf("pty %s\nready\n", port.slavePath().c_str());
    std::fflush(stdout);
    SimLoop loop(options, port, session);
    loop.run(stopFd);
    saveFlash(flash, options.flashPath);
    return 0;
}
