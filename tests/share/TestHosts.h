// Two test hosts for tests that need a network between machines: network namespaces made with
// "ip netns add", joined by a veth pair (host A 10.77.9.1/24, host B 10.77.9.2/24), each with its
// loopback up and multicast routed on it. They are made from inside the test's own private
// namespace and reach nothing but each other.
#pragma once

#include <string>
#include <vector>

namespace sharetest {

constexpr const char* kHostAAddress = "10.77.9.1";
constexpr const char* kHostBAddress = "10.77.9.2";

// The ip program, wherever this system keeps it; "" when there is none.
std::string ipBinary();

class TestHosts {
  public:
    TestHosts();
    // Deletes both namespaces (the programs run in them must be stopped first).
    ~TestHosts();
    TestHosts(const TestHosts&) = delete;
    TestHosts& operator=(const TestHosts&) = delete;

    // False, with the reason in *why, when the namespaces cannot be made.
    bool create(std::string* why);

    const std::string& hostA() const { return hostA_; }
    const std::string& hostB() const { return hostB_; }
    // Arguments of ip that run program with args in host.
    std::vector<std::string> inHost(const std::string& host, const std::string& program,
                                    const std::vector<std::string>& args) const;

  private:
    bool ip(const std::vector<std::string>& args, std::string* why) const;
    bool addHosts(std::string* why);
    bool joinHosts(std::string* why);
    bool prepareLoopback(const std::string& host, std::string* why) const;
    void removeHosts();

    std::string hostA_;
    std::string hostB_;
    bool created_ = false;
};

}  // namespace sharetest
