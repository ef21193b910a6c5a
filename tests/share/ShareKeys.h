// Key directories for sharing over the network, made by linkshare --make-keys as a user would,
// and the exchange of public certificates between a server's and a client's directory.
#pragma once

#include <string>

namespace sharetest {

// A key directory with the public keys linkshare printed for it.
struct KeyDirectory {
    std::string path;
    std::string serverKey;  // Z85
    std::string clientKey;  // Z85
};

// Runs linkshare --make-keys --keys path; the test fails when it does not print both keys.
KeyDirectory makeKeys(const std::string& path);
// Copies the client's public certificate into the server's clients/ as NAME.key: allowed in.
void allowClient(const KeyDirectory& server, const KeyDirectory& client, const std::string& name);
// Copies the server's public certificate into the client's servers/ as NAME.key: trusted.
void trustServer(const KeyDirectory& client, const KeyDirectory& server, const std::string& name);
// A directory trusting server with no key pair of its own.
KeyDirectory trustingOnly(const std::string& path, const KeyDirectory& server);

}  // namespace sharetest
