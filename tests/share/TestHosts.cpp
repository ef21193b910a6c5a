#include "TestHosts.h"

#include <unistd.h>

#include "TestSupport.h"

namespace sharetest {

namespace {

constexpr const char* kVethA = "zva";
constexpr const char* kVethB = "zvb";

// Names of this test process's hosts, so that a crashed run's leftovers can be found again.
std::string hostName(char which) {
    return "zvt-" + std::to_string(getpid()) + "-" + which;
}

}  // namespace

std::string ipBinary() {
    for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
        if (access(path, X_OK) == 0) {
            return path;
        }
    }
    return "";
}

TestHosts::TestHosts() : hostA_(hostName('a')), hostB_(hostName('b')) {}

TestHosts::~TestHosts() {
    if (created_) {
        removeHosts();
    }
}

bool TestHosts::create(std::string* why) {
    if (ipBinary().empty()) {
        *why = "no ip program to make test hosts with";
        return false;
    }
    // A run that died before its teardown, under the same process id, left these behind.
    removeHosts();
    created_ = true;
    return addHosts(why) && joinHosts(why) && prepareLoopback(hostA_, why) &&
           prepareLoopback(hostB_, why);
}

std::vector<std::string> TestHosts::inHost(const std::string& host, const std::string& program,
                                           const std::vector<std::string>& args) const {
    std::vector<std::string> words{"netns", "exec", host, program};
    words.insert(words.end(), args.begin(), args.end());
    return words;
}

bool TestHosts::ip(const std::vector<std::string>& args, std::string* why) const {
    zvtest::RunResult result = zvtest::runProgram(ipBinary(), args);
    if (result.exitCode != 0 && why != nullptr) {
        std::string command = "ip";
        for (const std::string& arg : args) {
            command += " " + arg;
        }
        *why = command + " failed: " + result.err;
    }
    return result.exitCode == 0;
}

bool TestHosts::addHosts(std::string* why) {
    return ip({"netns", "add", hostA_}, why) && ip({"netns", "add", hostB_}, why);
}

bool TestHosts::joinHosts(std::string* why) {
    return ip({"link", "add", kVethA, "netns", hostA_, "type", "veth", "peer", "name", kVethB,
               "netns", hostB_},
              why) &&
           ip({"-n", hostA_, "addr", "add", std::string(kHostAAddress) + "/24", "dev", kVethA},
              why) &&
           ip({"-n", hostB_, "addr", "add", std::string(kHostBAddress) + "/24", "dev", kVethB},
              why) &&
           ip({"-n", hostA_, "link", "set", kVethA, "up"}, why) &&
           ip({"-n", hostB_, "link", "set", kVethB, "up"}, why);
}

// The loopback probe of a link server on the host runs over multicast on loopback.
bool TestHosts::prepareLoopback(const std::string& host, std::string* why) const {
    return ip(inHost(host, zvtest::scriptPath("netns-setup"), {}), why);
}

void TestHosts::removeHosts() {
    // Deleting a host also deletes its end of the veth pair, and with it the other end.
    ip({"netns", "delete", hostA_}, nullptr);
    ip({"netns", "delete", hostB_}, nullptr);
}

}  // namespace sharetest
