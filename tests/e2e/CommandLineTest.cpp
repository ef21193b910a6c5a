// Runs the real Updater binary as a user would and compares its output byte for byte.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "TestSupport.h"

using zvtest::RunResult;
using zvtest::TempDir;

namespace {

const std::string kVersion = "Updater (Version: 2.12.2 Mar 13 2026)\n";
const std::string kCopyright = "(Copyright (c) 2026 Pelmorax. All rights reserved.)\n";

std::string golden(const std::string& name) {
    return zvtest::readFile(std::string(ZV_SOURCE_DIR) + "/tests/e2e/golden/" + name);
}

RunResult updater(const std::vector<std::string>& args) {
    return zvtest::runProgram(zvtest::updaterBinary(), args);
}

// Runs with a private storage directory so that nothing lands in the user's home.
RunResult updaterIn(const TempDir& dir, std::vector<std::string> args) {
    args.insert(args.begin(), {"-i", dir.path()});
    return updater(args);
}

TEST(CommandLineUsage, NoArgumentsShowsShortUsage) {
    RunResult r = updater({});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, kVersion + kCopyright);
    EXPECT_EQ(r.err, golden("usage_header.txt"));
}

TEST(CommandLineUsage, HelpShowsParametersAndSamples) {
    std::string full =
        golden("usage_header.txt") + golden("usage_parameters.txt") + golden("usage_samples.txt");
    for (const char* option : {"-h", "-H", "--help"}) {
        RunResult r = updater({option});
        EXPECT_EQ(r.exitCode, 0) << option;
        EXPECT_EQ(r.out, kVersion + kCopyright) << option;
        EXPECT_EQ(r.err, full) << option;
    }
}

TEST(CommandLineUsage, DebugMaskBeforeHelpAddsExtendedBlock) {
    RunResult r = updater({"-X", "0x1", "-h"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, golden("usage_header.txt") + golden("usage_parameters.txt") +
                         golden("usage_extended.txt") + golden("usage_samples.txt"));
}

TEST(CommandLineUsage, HelpStopsParsingSoLaterDebugMaskIsIgnored) {
    RunResult r = updater({"-h", "-X", "0x1", "-d", "nothex"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, golden("usage_header.txt") + golden("usage_parameters.txt") +
                         golden("usage_samples.txt"));
}

struct BadArgumentCase {
    std::vector<std::string> args;
    std::string messages;
};

std::string joined(const std::vector<std::string>& args) {
    std::string text;
    for (const std::string& arg : args) {
        text += (text.empty() ? "" : " ") + arg;
    }
    return text;
}

// Names the cases by their command line in test listings.
void PrintTo(const BadArgumentCase& c, std::ostream* os) {
    *os << joined(c.args);
}

class CommandLineBadArgument : public ::testing::TestWithParam<BadArgumentCase> {};

TEST_P(CommandLineBadArgument, ReportsEveryProblemThenShortUsage) {
    RunResult r = updater(GetParam().args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, kVersion + kCopyright);
    EXPECT_EQ(r.err, GetParam().messages + golden("usage_header.txt"));
}

INSTANTIATE_TEST_SUITE_P(
    Messages, CommandLineBadArgument,
    ::testing::Values(
        BadArgumentCase{{"-U", "-d", "12G4"},
                        "Invalid serial number obtained from argument [12G4]\n"},
        BadArgumentCase{{"-U", "-d", "0x0"}, "Invalid serial number obtained from argument [0]\n"},
        BadArgumentCase{{"-U", "-d", ""}, "Invalid serial number obtained from argument []\n"},
        BadArgumentCase{{"-D", "-r", "-5"},
                        "Invalid router serial number obtained from argument [-5]\n"},
        BadArgumentCase{{"-D", "-t", "usb"},
                        "Invalid transport type:[usb]\nMust be one of the following: USB, TCPIP, "
                        "RECOVER\n"},
        BadArgumentCase{{"-Y"}, "Unhandled command: [-Y]\n"},
        BadArgumentCase{{"-G", "--http", "--https"},
                        "Multiple update server URLs specified. Choose one of: --https, --http, or "
                        "-U <host:port>.\n"},
        BadArgumentCase{{"-G", "-u", "a:1", "--https"},
                        "Multiple update server URLs specified. Choose one of: --https, --http, or "
                        "-U <host:port>.\n"},
        // Parsing goes on after a failure, so every problem is reported in order.
        BadArgumentCase{{"-d", "Q", "-t", "SERIAL", "-r", "0"},
                        "Invalid serial number obtained from argument [Q]\n"
                        "Invalid transport type:[SERIAL]\nMust be one of the following: USB, "
                        "TCPIP, RECOVER\n"
                        "Invalid router serial number obtained from argument [0]\n"}));

TEST(CommandLineParse, UnknownWordsAndMissingArgumentsAreSkipped) {
    TempDir dir;
    RunResult r = updaterIn(dir, {"stray", "-q", "--verbose", "-I", "-d"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, kVersion + "No stored information in " + dir.path() + "/updater\n");
    EXPECT_EQ(r.err, "");
}

TEST(CommandLineParse, BadDebugMaskIsReportedButDoesNotFail) {
    TempDir dir;
    RunResult r = updaterIn(dir, {"-X", "0x10000zz", "-I"});
    EXPECT_EQ(r.exitCode, 0);
    // The mask was not activated, so no parameter trace follows.
    EXPECT_EQ(r.err, "Invalid format for \"-X\" parameter, unprocessed characters [zz]\n");
}

TEST(CommandLineParse, AppDebugBitTracesTheCommandLine) {
    TempDir dir;
    RunResult r = updaterIn(dir, {"-X", "0x10000", "-Z", "7"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "\nApplication parameters:[Updater]\n\t[-i]\n\t[" + dir.path() +
                         "]\n\t[-X]\n\t[0x10000]\n\t[-Z]\n\t[7]\n");
}

TEST(CommandLineParse, SerialPrefixIsDroppedAndLogged) {
    TempDir dir;
    RunResult r = updaterIn(dir, {"-X", "1", "-G", "-d", "0x0012abcd", "-b", "007"});
    // The download itself is not part of this build; what matters is what was parsed.
    EXPECT_NE(r.err.find("Discarding '0x' serial number prefix\n"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("Retrieving firmware for device with serial number 0012ABCD\n"
                         "Retrieving firmware build 7\n"),
              std::string::npos)
        << r.out;
}

TEST(CommandLineDispatch, GetBuildWithoutBuildUsesLatest) {
    TempDir dir;
    RunResult r = updaterIn(dir, {"-G", "-d", "40F5849A"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, kVersion +
                         "Retrieving firmware for device with serial number 40F5849A\n"
                         "No build specified\nUsing Latest build\n");
}

TEST(CommandLineDispatch, NonNumericBuildBecomesZero) {
    TempDir dir;
    RunResult r = updaterIn(dir, {"-G", "-d", "1", "-b", "12abc"});
    EXPECT_NE(r.out.find("Retrieving firmware build 0\n"), std::string::npos) << r.out;
}

struct MissingDeviceCase {
    std::vector<std::string> args;
    std::string err;
};

void PrintTo(const MissingDeviceCase& c, std::ostream* os) {
    *os << joined(c.args);
}

class CommandLineMissingDevice : public ::testing::TestWithParam<MissingDeviceCase> {};

TEST_P(CommandLineMissingDevice, FailsWithItsMessage) {
    TempDir dir;
    RunResult r = updaterIn(dir, GetParam().args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, kVersion);
    EXPECT_EQ(r.err, GetParam().err);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, CommandLineMissingDevice,
    ::testing::Values(
        MissingDeviceCase{{"-B"},
                          "Error must supply a serial number for the List Builds command\n" +
                              golden("usage_header.txt")},
        MissingDeviceCase{{"-L"},
                          "Error must supply a serial number for the List Local Builds command\n" +
                              golden("usage_header.txt")},
        MissingDeviceCase{
            {"-G"}, "-G must specify a specific device via -d\n--help for usage information\n"},
        MissingDeviceCase{
            {"-G", "-U"},
            "-G must specify a specific device via -d\n--help for usage information\n"},
        MissingDeviceCase{{"-U"}, "Must specify the specific device to be updated\n"},
        MissingDeviceCase{{"-U", "-t", "TCPIP"},
                          "Must specify the specific device to be updated\n"},
        MissingDeviceCase{{"-N"}, "Must specify the serial port used for connecting\n"}));

TEST(CommandLineDispatch, CommandsWithoutActionPassAndCreateTheStore) {
    for (std::vector<std::string> args : {std::vector<std::string>{"-I"}, {"-Z", "1"}}) {
        TempDir dir;
        RunResult r = updaterIn(dir, args);
        EXPECT_EQ(r.exitCode, 0);
        // "-I" says that the new store holds nothing.
        EXPECT_EQ(r.out, args[0] == "-I"
                             ? kVersion + "No stored information in " + dir.path() + "/updater\n"
                             : kVersion);
        EXPECT_EQ(r.err, "");
        struct stat st;
        ASSERT_EQ(stat((dir.path() + "/updater").c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0755u);
    }
}

TEST(CommandLineDispatch, StorageDirectoryThatCannotBeMadeFails) {
    TempDir dir;
    zvtest::writeFile(dir.file("plain"), "not a directory");
    RunResult r = updater({"-I", "-i", dir.file("plain")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, kVersion);
    EXPECT_EQ(r.err, "Could not find updater directory at " + dir.file("plain") + "/updater\n");
}

TEST(CommandLineDispatch, DiscoverWinsOverUpdateAndExitsZero) {
    // Discovery multicasts on every interface: never on the machine's own network.
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    TempDir dir;
    RunResult r = updaterIn(dir, {"-U", "-D", "-d", "1234"});
    EXPECT_EQ(r.exitCode, 0);
    // Deliberate: "-D" alone searches USB and then TCP/IP, as its help text promises.
    // Without "-t" both transports are searched, USB first.
    EXPECT_EQ(r.out, kVersion +
                         "Searching for Zendrival devices\n"
                         "Discovered Devices: (USB)\n"
                         "    No devices found.\n"
                         "Discovered Devices: (TCPIP)\n"
                         "    No devices found.\n");
    EXPECT_EQ(r.err.find("update"), std::string::npos) << r.err;
}

TEST(CommandLineDispatch, RouterDiscoveryWithoutTransportShowsUnknownType) {
    // Discovery multicasts on every interface: never on the machine's own network.
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    TempDir dir;
    RunResult r = updaterIn(dir, {"-D", "-r", "D272031D"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, kVersion +
                         "Searching for Zendrival Network devices connected to D272031D\n"
                         "Discovered Devices: (Unknown)\n"
                         "    No devices found.\n");
}

TEST(CommandLineDispatch, TransportIsMatchedByPrefix) {
    // Discovery multicasts on every interface: never on the machine's own network.
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    TempDir dir;
    RunResult r = updaterIn(dir, {"-D", "-t", "TCPIP"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("Discovered Devices: (TCPIP)\n"), std::string::npos) << r.out;
}

TEST(CommandLineDispatch, ListsWithDeviceReportEmptyList) {
    TempDir dir;
    RunResult r = updaterIn(dir, {"-B", "-d", "1A2B"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, kVersion + "No builds found for device [00001A2B]\n");
}

TEST(CommandLineDispatch, FingerprintWithoutAnswerNotesFailureAndGoesOn) {
    // Discovery multicasts on every interface: never on the machine's own network.
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    TempDir dir;
    RunResult alone = updaterIn(dir, {"-N", "-s", "/dev/null"});
    EXPECT_EQ(alone.exitCode, 1);
    EXPECT_EQ(alone.out, kVersion);
    EXPECT_EQ(alone.err, "Got no response from chip\n");

    // A later command sets the exit code: discovery always ends with 0.
    RunResult thenDiscover = updaterIn(dir, {"-N", "-s", "/dev/null", "-D"});
    EXPECT_EQ(thenDiscover.exitCode, 0);
    EXPECT_NE(thenDiscover.err.find("Got no response from chip\n"), std::string::npos);
    EXPECT_NE(thenDiscover.out.find("Discovered Devices: (USB)\n"), std::string::npos);
}

TEST(CommandLineDispatch, RecoveryWithoutDeviceStillRuns) {
    TempDir dir;
    RunResult r = updaterIn(dir, {"-U", "-t", "RECOVER", "-s", "/dev/null"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.find("Must specify the specific device"), std::string::npos) << r.err;
}

}  // namespace
