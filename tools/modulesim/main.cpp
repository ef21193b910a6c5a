// modulesim: simulated Zendrival modules on TCP/IP ports, pseudo-terminals and routers' I2C
// buses, for the host library and Updater to be tried and tested without hardware.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "CobsFraming.h"
#include "Discovery.h"
#include "EventLoop.h"
#include "PacketLog.h"
#include "PtyLink.h"
#include "SimConfig.h"
#include "SimModule.h"
#include "TcpLink.h"

using namespace modulesim;

namespace {

int stopPipe[2] = {-1, -1};

void onStopSignal(int) {
    char byte = 1;
    ssize_t ignored = write(stopPipe[1], &byte, 1);
    (void)ignored;
}

bool installStopSignals() {
    if (pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return true;
}

struct Simulation {
    EventLoop loop;
    std::vector<std::unique_ptr<SimModule>> modules;
    std::vector<std::unique_ptr<HostLink>> links;
    std::unique_ptr<DiscoveryResponder> discovery;
};

bool build(const SimConfig& config, const PacketLog& log, Simulation& sim, std::string& error) {
    std::map<uint32_t, HostLink*> linkBySerial;
    std::vector<TcpLink*> tcpLinks;
    int64_t now = EventLoop::nowMs();
    for (const ModuleConfig& moduleConfig : config.modules) {
        sim.modules.push_back(std::make_unique<SimModule>(moduleConfig, now));
        SimModule& module = *sim.modules.back();
        std::unique_ptr<HostLink> link;
        if (moduleConfig.attachment == Attachment::Tcp) {
            auto tcp = std::make_unique<TcpLink>(sim.loop, module, config.latencyMs, log);
            tcpLinks.push_back(tcp.get());
            link = std::move(tcp);
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
    std::string error;
    if (!parseCommandLine(argc, argv, config, error)) {
        fprintf(stderr, "modulesim: %s\n", error.c_str());
        return 2;
    }
    if (config.help) {
        fputs(usageText(), stdout);
        return 0;
    }
    if (!installStopSignals()) {
        perror("modulesim: pipe");
        return 1;
    }
    PacketLog log(config.log);
    Simulation sim;
    if (!build(config, log, sim, error)) {
        fprintf(stderr, "modulesim: %s\n", error.c_str());
        return 1;
    }
    sim.loop.watch(stopPipe[0], POLLIN, [&sim](short) { sim.loop.stop(); });

    std::vector<std::string> lines;
    for (const auto& link : sim.links) {
        link->describe(lines);
    }
    for (const std::string& line : lines) {
        printf("%s\n", line.c_str());
    }
    printf("ready\n");
    fflush(stdout);

    int64_t deadline = EventLoop::nowMs() + static_cast<int64_t>(config.durationSeconds * 1000);
    sim.loop.run(deadline);
    return 0;
}
