// linkshare's command line and its failure to share a module that is not there.
#include <gtest/gtest.h>

#include "PrivateNetwork.h"
#include "SharedModule.h"

using zvtest::linkshareBinary;

TEST(LinkshareCommandLine, HelpDescribesTheTransports) {
    zvtest::RunResult result = zvtest::runProgram(linkshareBinary(), {"--help"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.out.find("--tcp ADDR:PORT SERIAL"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("--serial PATH SERIAL"), std::string::npos);
}

TEST(LinkshareCommandLine, BadCommandLinesExitWithTwoAndOneLine) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--tcp", "127.0.0.1", "1234"},
        {"--tcp", "127.0.0.1:80", "nothex"},
        {"--usb"},
        {"--usb", "1234", "--duration", "soon"},
        {"--usb", "1234", "--serial", "/dev/null", "1234"},
        {"--usb", "1234", "--loud"},
    };
    for (const auto& args : bad) {
        zvtest::RunResult result = zvtest::runProgram(linkshareBinary(), args);
        EXPECT_EQ(result.exitCode, 2) << result.err;
        EXPECT_EQ(zvtest::splitLines(result.err).size(), 1u) << result.err;
        EXPECT_EQ(result.out, "");
    }
}

TEST(LinkshareCommandLine, ModuleThatDoesNotAnswerIsAnErrorLine) {
    ZV_SHARE_NETWORK_OR_SKIP();
    // Nothing listens on port 1 of the private loopback.
    zvtest::RunResult result =
        zvtest::runProgram(linkshareBinary(), {"--tcp", "127.0.0.1:1", "1234ABCD"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "linkshare: cannot open the module's link\n");
    EXPECT_EQ(result.out, "");
}
