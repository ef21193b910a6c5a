#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

using Args = std::vector<std::string>;

TEST(ModulesimCommandLine, HelpDescribesTheModuleKeys) {
    zvtest::RunResult result = zvtest::runProgram(zvtest::modulesimBinary(), {"--help"});
    EXPECT_EQ(result.exitCode, 0);
    for (const char* word :
         {"--module", "serial=HEX8", "behind=HEX8", "drop-every=N", "disconnect-after=N",
          "node=DIR", "cobs-pty", "bad-crc-every=N", "ready"}) {
        EXPECT_NE(result.out.find(word), std::string::npos) << word;
    }
}

class ModulesimBadCommandLine : public ::testing::TestWithParam<Args> {};

TEST_P(ModulesimBadCommandLine, GivesOneLineAndExitCode2) {
    zvtest::RunResult result = zvtest::runProgram(zvtest::modulesimBinary(), GetParam());
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("modulesim: ", 0), 0u) << result.err;
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModulesimBadCommandLine,
    ::testing::Values(
        Args{}, Args{"--bogus"}, Args{"--module", "model=3,pty"},
        Args{"--module", "serial=1,pty,address=3"}, Args{"--module", "serial=1,pty,address=0"},
        Args{"--module", "serial=123456789,pty"},
        Args{"--module", "serial=1,pty", "--module", "serial=1,pty"},
        Args{"--module", "serial=1,behind=2"},
        Args{"--module", "serial=1,pty", "--module", "serial=2,behind=1,address=2"},
        Args{"--module", "serial=1,pty,colour=red"}, Args{"--module", "serial=1,pty,tcp"},
        Args{"--module", "serial=1"}, Args{"--module", "serial=1,pty,cobs-pty"},
        Args{"--module", "serial=1,cobs-pty=2"}, Args{"--module", "serial=1,pty,bad-crc-every=2"},
        Args{"--module", "serial=1,pty", "--module", "serial=2,behind=1,address=4,bad-crc-every=1"},
        Args{"--module", "serial=1,cobs-pty,bad-crc-every=x"},
        Args{"--module", "serial=1,tcp=host:1"}, Args{"--module", "serial=1,pty,version=2.12"},
        Args{"--module", "serial=1,pty,name=ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456"},
        Args{"--duration", "0", "--module", "serial=1,pty"},
        Args{"--duration", "nan", "--module", "serial=1,pty"},
        Args{"--latency-ms", "-5", "--module", "serial=1,pty"}, Args{"--module"}));

TEST(ModulesimCommandLine, RunsForItsDurationAndExitsCleanly) {
    zvtest::RunResult result = zvtest::runProgram(
        zvtest::modulesimBinary(), {"--duration", "0.2", "--module", "serial=00C0FFEE,pty"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out.rfind("pty 00C0FFEE /dev/pts/", 0), 0u) << result.out;
    EXPECT_NE(result.out.find("\nready\n"), std::string::npos) << result.out;
    result = zvtest::runProgram(zvtest::modulesimBinary(),
                                {"--duration", "0.2", "--module", "serial=00C0FFEE,cobs-pty"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out.rfind("pty 00C0FFEE /dev/pts/", 0), 0u) << result.out;
}

}  // namespace
