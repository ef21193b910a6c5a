#include "BeaconHosts.h"

#include <unistd.h>

#include <cstdio>
#include <sstream>

#include "PrivateNetwork.h"
#include "SharedModule.h"

namespace sharetest {

HostedModule firstModule() {
    HostedModule module;
    module.serial = kSerial;
    module.model = kModel;
    module.address = kAddress;
    return module;
}

namespace {

std::string hex8(uint32_t value) {
    char text[16];
    snprintf(text, sizeof text, "%08X", value);
    return text;
}

std::string moduleDescription(const HostedModule& module) {
    return "serial=" + hex8(module.serial) + ",model=" + std::to_string(module.model) +
           ",address=" + std::to_string(module.address) + ",tcp=127.0.0.1:0";
}

// "found 6 5A4E0017 10.77.9.1 40000 15" -> the link; false for any other line.
bool parseFoundLine(const std::string& line, FoundLink* link) {
    std::istringstream words(line);
    std::string word, serial;
    if (!(words >> word) || word != "found" ||
        !(words >> link->type >> serial >> link->ip >> link->port >> link->model)) {
        return false;
    }
    link->serial = static_cast<uint32_t>(std::stoul(serial, nullptr, 16));
    return true;
}

FindResult parseFindOutput(const zvtest::RunResult& run) {
    FindResult result;
    result.exitCode = run.exitCode;
    result.output = run.out + run.err;
    result.errors = run.err;
    for (const std::string& line : zvtest::splitLines(run.out)) {
        FoundLink link;
        if (parseFoundLine(line, &link)) {
            result.links.push_back(link);
            continue;
        }
        int count = 0;
        if (sscanf(line.c_str(), "count %d", &count) == 1) {
            result.count = count;
        }
    }
    return result;
}

}  // namespace

void BeaconHosts::SetUp() {
    ZV_SHARE_NETWORK_OR_SKIP();
    ZV_NEEDS(geteuid() == 0 ? "" : "making test hosts with ip netns needs root");
    ZV_NEEDS(ipBinary().empty() ? "no ip program to make test hosts with" : "");
    // As root, hosts that cannot be made are a fault of the recipe, not of the machine.
    std::string why;
    ASSERT_TRUE(hosts_.create(&why)) << why;
    serverKeys_ = makeKeys(scratch_.file("keys-a"));
    clientKeys_ = makeKeys(scratch_.file("keys-b"));
    allowClient(serverKeys_, clientKeys_, "host-b");
    trustServer(clientKeys_, serverKeys_, "host-a");
}

void BeaconHosts::TearDown() {
    for (auto& sharer : sharers_) {
        EXPECT_EQ(sharer->stop(), 0) << "linkshare did not end cleanly";
    }
    sharers_.clear();
    simulator_.reset();
}

void BeaconHosts::startModules(std::vector<HostedModule>* modules) {
    std::vector<std::string> args{"--log", "--duration", "120"};
    for (const HostedModule& module : *modules) {
        args.push_back("--module");
        args.push_back(moduleDescription(module));
    }
    simulator_ = std::make_unique<zvtest::BackgroundProgram>(
        ipBinary(), hosts_.inHost(hosts_.hostA(), zvtest::modulesimBinary(), args),
        scratch_.file("modules.log"));
    ASSERT_TRUE(simulator_->waitReady()) << "the module simulator did not start on host A";
    for (HostedModule& module : *modules) {
        module.endpoint = simulator_->startupValue("tcp " + hex8(module.serial));
        ASSERT_FALSE(module.endpoint.empty()) << "no TCP/IP attachment for " << hex8(module.serial);
    }
}

HostedModule BeaconHosts::startSharedModule(HostedModule module, bool network) {
    std::vector<HostedModule> modules{module};
    startModules(&modules);
    if (!HasFatalFailure()) {
        startSharer(&modules[0], network);
    }
    return modules[0];
}

void BeaconHosts::startSharer(HostedModule* module, bool network) {
    std::vector<std::string> args{"--tcp", module->endpoint, hex8(module->serial), "--duration",
                                  "120",   "--keys",         serverKeys_.path};
    if (network) {
        args.push_back("--network");
    }
    const std::string errors = scratch_.file("linkshare-" + hex8(module->serial) + ".err");
    sharers_.push_back(std::make_unique<zvtest::BackgroundProgram>(
        ipBinary(), hosts_.inHost(hosts_.hostA(), zvtest::linkshareBinary(), args), errors));
    ASSERT_TRUE(sharers_.back()->waitReady(20000))
        << "linkshare did not share " << hex8(module->serial) << ": " << zvtest::readFile(errors);
    ASSERT_EQ(sscanf(sharers_.back()->startupValue("shared " + hex8(module->serial)).c_str(),
                     "port %u", &module->sharedPort),
              1);
    ASSERT_GT(module->sharedPort, 0u);
}

FindResult BeaconHosts::find(const std::string& host, const std::string& networkInterface) {
    std::vector<std::string> args{"find"};
    if (!networkInterface.empty()) {
        args.push_back("--interface");
        args.push_back(networkInterface);
    }
    return parseFindOutput(
        zvtest::runProgram(ipBinary(), hosts_.inHost(host, sharetest::sharePeerBinary(), args)));
}

zvtest::RunResult BeaconHosts::query(const std::string& host, uint32_t serial,
                                     const std::string& networkInterface, int count,
                                     const std::string& keys) {
    return zvtest::runProgram(
        ipBinary(),
        hosts_.inHost(host, sharetest::sharePeerBinary(),
                      {"query", hex8(serial), "--interface", networkInterface, "--count",
                       std::to_string(count), "--keys", keys.empty() ? clientKeys_.path : keys}));
}

bool BeaconHosts::tcpConnects(const std::string& host, const std::string& address, unsigned port) {
    const std::string open = "exec 3<>/dev/tcp/" + address + "/" + std::to_string(port);
    zvtest::RunResult run = zvtest::runProgram(
        ipBinary(), hosts_.inHost(host, "/usr/bin/timeout", {"5", "/bin/bash", "-c", open}));
    return run.exitCode == 0;
}

}  // namespace sharetest
