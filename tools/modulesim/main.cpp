// modulesim: simulated Zendrival modules on TCP/IP ports, pseudo-terminals and routers' I2C
// buses, for the host library and Updater to be tried and tested without hardware.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "CobsFraming.h"
#include "Discovery.h"
#include "EventLoop.h"
#include "ImxChip.h"
#include "PacketLog.h"
#include "PtyLink.h"
#include "SimConfig.h"
#include "StopSignals.h"
#include "SimModule.h"
#include "TcpLink.h"
#include "UsbBus.h"
#include "UsbLink.h"

using namespace modulesim;

namespace {

// The emulated USB bus announces devices through udev events, which umockdev can only send
// from a process that runs under its preload library: the simulator restarts itself under it.
// Returns only when no restart is needed or it failed.
void runUnderUmockdevPreload(const SimConfig& config, char** argv) {
    bool hasUsb = false;
    for (const ModuleConfig& module : config.modules) {
        hasUsb = hasUsb || module.attachment == Attachment::Usb ||
                 module.attachment == Attachment::ImxRom;
    }
    const char* preload = getenv("LD_PRELOAD");
    if (!hasUsb || (preload != nullptr && strstr(preload, "libumockdev-preload") != nullptr)) {
        return;
    }
    std::string libraries = "libumockdev-preload.so.0";
    if (preload != nullptr && *preload != '\0') {
        libraries += std::string(":") + preload;
    }
    setenv("LD_PRELOAD", libraries.c_str(), 1);
    // A sanitizer build would refuse to start with a library loaded ahead of its runtime.
    const char* asan = getenv("ASAN_OPTIONS");
    std::string asanOptions = std::string(asan != nullptr ? asan : "") +
                              (asan != nullptr && *asan != '\0' ? ":" : "") +
                              "verify_asan_link_order=0";
    setenv("ASAN_OPTIONS", asanOptions.c_str(), 1);
    execv("/proc/self/exe", argv);
    fprintf(stderr,
            "modulesim: cannot restart under umockdev (%s); USB devices will not announce "
            "themselves\n",
            strerror(errno));
}

struct Simulation {
    std::unique_ptr<UsbBus> usbBus;  // outlives the links, which unplug from it
    EventLoop loop;
    std::vector<std::unique_ptr<SimModule>> modules;
    std::vector<std::unique_ptr<HostLink>> links;
    std::vector<std::unique_ptr<ImxChip>> chips;
    std::unique_ptr<DiscoveryResponder> discovery;
};

bool build(const SimConfig& config, const PacketLog& log, Simulation& sim, std::string& error) {
    std::map<uint32_t, HostLink*> linkBySerial;
    std::vector<TcpLink*> tcpLinks;
    int64_t now = EventLoop::nowMs();
    int usbPort = 0;
    for (const ModuleConfig& moduleConfig : config.modules) {
        bool onUsb = moduleConfig.attachment == Attachment::Usb ||
                     moduleConfig.attachment == Attachment::ImxRom;
        if (onUsb && sim.usbBus == nullptr) {
            sim.usbBus = std::make_unique<UsbBus>();
            if (!sim.usbBus->open(error)) {
                return false;
            }
        }
        sim.modules.push_back(std::make_unique<SimModule>(moduleConfig, now));
        SimModule& module = *sim.modules.back();
        std::unique_ptr<HostLink> link;
        if (moduleConfig.attachment == Attachment::ImxRom) {
            auto chip = std::make_unique<ImxChip>(sim.loop, module, config.latencyMs, log,
                                                  *sim.usbBus, ++usbPort);
            if (!chip->open(error)) {
                return false;
            }
            sim.chips.push_back(std::move(chip));
            continue;
        } else if (moduleConfig.attachment == Attachment::Tcp) {
            auto tcp = std::make_unique<TcpLink>(sim.loop, module, config.latencyMs, log);
            tcpLinks.push_back(tcp.get());
            link = std::move(tcp);
        } else if (moduleConfig.attachment == Attachment::Usb) {
            link = std::make_unique<UsbLink>(sim.loop, module, config.latencyMs, log, *sim.usbBus,
                                             ++usbPort);
        } else if (moduleConfig.attachment == Attachment::CobsPty) {
            link = std::make_unique<PtyLink>(sim.loop, module, config.latencyMs, log,
                                             std::make_unique<CobsFraming>());
        } else if (moduleConfig.attachment != Attachment::Bus) {
            link = std::make_unique<PtyLink>(sim.loop, module, config.latencyMs, log);
        } else {
            continue;
        }
        if (!link->open(error)) {
            return false;
        }
        linkBySerial[moduleConfig.serial] = link.get();
        sim.links.push_back(std::move(link));
    }
    for (const auto& module : sim.modules) {
        if (module->config().attachment == Attachment::Bus) {
            linkBySerial.at(module->config().behind)->addBusModule(*module);
        }
    }
    if (!tcpLinks.empty()) {
        sim.discovery = std::make_unique<DiscoveryResponder>(sim.loop, tcpLinks, log);
        std::string why;
        if (!sim.discovery->open(why)) {
            // The modules still work by address and port; only discovery cannot find them.
            fprintf(stderr, "modulesim: %s\n", why.c_str());
            sim.discovery.reset();
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    SimConfig config;
    const int exitCode = readCommandLine(argc, argv, config);
    if (exitCode >= 0) {
        return exitCode;
    }
    std::string error;
    runUnderUmockdevPreload(config, argv);
    const int stopFd = simtools::installStopSignals();
    if (stopFd < 0) {
        perror("modulesim: pipe");
        return 1;
    }
    PacketLog log(config.log, config.logSegments);
    Simulation sim;
    if (!build(config, log, sim, error)) {
        fprintf(stderr, "modulesim: %s\n", error.c_str());
        return 1;
    }
    sim.loop.watch(stopFd, POLLIN, [&sim](short) { sim.loop.stop(); });

    std::vector<std::string> lines;
    for (const auto& link : sim.links) {
        link->describe(lines);
    }
    for (const auto& chip : sim.chips) {
        chip->describe(lines);
    }
    if (sim.usbBus != nullptr) {
        lines.push_back("umockdev " + sim.usbBus->rootDir());
    }
    for (const std::string& line : lines) {
        printf("%s\n", line.c_str());
    }
    printf("ready\n");
    fflush(stdout);

    int64_t deadline = EventLoop::nowMs() + static_cast<int64_t>(config.durationSeconds * 1000);
    sim.loop.run(deadline);
    if (sim.usbBus != nullptr) {
        sim.usbBus->shutdown();  // umockdev's worker stops calling the links' gadgets
    }
    return 0;
}
