#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "CLI_Display.h"
#include "CaptureOutput.h"
#include "Log.h"
#include "LogPackages.h"
#include "Parameters.h"

namespace {

struct ParseResult {
    int rc;
    Parameters params;
    std::string errors;
};

ParseResult parse(std::initializer_list<const char*> words) {
    std::vector<std::string> store{"/usr/local/bin/Updater"};
    store.insert(store.end(), words.begin(), words.end());
    std::vector<char*> argv;
    for (auto& w : store) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    CLI_Display display;
    ParseResult result;
    CaptureOutput err(stderr);
    result.rc = _get_params(display, static_cast<int>(store.size()), argv.data(), &result.params);
    result.errors = err.text();
    Log::DeactivatePackage(0xFFFFFFFF);
    return result;
}

TEST(NumberArguments, WholeTextMustBeDigits) {
    EXPECT_EQ(_get_hex_arg("40F5849A", nullptr), 0x40F5849Au);
    EXPECT_EQ(_get_hex_arg("abcdef", nullptr), 0xABCDEFu);
    EXPECT_EQ(_get_hex_arg("12 34", nullptr), 0u);
    EXPECT_EQ(_get_hex_arg("0x12", nullptr), 0u);  // the prefix is dropped by the caller
    EXPECT_EQ(_get_hex_arg("", nullptr), 0u);
    EXPECT_EQ(_get_hex_arg("123456789", nullptr), 0x23456789u);  // truncated to 32 bits
    EXPECT_EQ(_get_int_arg("115200", nullptr), 115200u);
    EXPECT_EQ(_get_int_arg("-5", nullptr), 0u);
    EXPECT_EQ(_get_int_arg("12a", nullptr), 0u);
    EXPECT_EQ(_get_int_arg("4294967297", nullptr), 1u);
}

TEST(Parameters, DefaultsAndProgramName) {
    ParseResult r = parse({});
    ASSERT_EQ(r.rc, 0);
    const Parameters& p = r.params;
    EXPECT_EQ(p.programName, "Updater");
    EXPECT_EQ(p.transport, 1u);
    EXPECT_FALSE(p.transportGiven);
    EXPECT_EQ(p.baudRate, 115200u);
    EXPECT_EQ(p.updateServerUrl, "http://update.pelmorax.invalid/cgi/u");
    EXPECT_TRUE(p.useUEIBytesLoading);
    EXPECT_EQ(p.logFileName, "Updater.log");
    EXPECT_EQ(p.logFileMode, "a+");
    EXPECT_FALSE(p.commands.IsSet(CMD_ANY_COMMAND | CMD_HELP));
    EXPECT_FALSE(p.homeDirectory.empty());
}

TEST(Parameters, CommandBitsAndOverride) {
    ParseResult r = parse({"-B", "-L", "-D", "-G", "-I", "-U", "-N", "-C", "-OVERRIDE"});
    ASSERT_EQ(r.rc, 0);
    for (COMMANDS bit : {CMD_LIST_BUILDS, CMD_LIST_LOCAL_BUILDS, CMD_DISCOVER, CMD_GET_BUILD,
                         CMD_STORED_INFO, CMD_UPDATE, CMD_FINGERPRINT, CMD_CHECK_BIRD}) {
        EXPECT_TRUE(r.params.commands.IsSet(bit)) << bit;
    }
    EXPECT_FALSE(r.params.commands.IsSet(CMD_Z | CMD_HELP));
    EXPECT_TRUE(r.params.overrideModelChecks);
}

TEST(Parameters, SerialWithAndWithoutPrefixAreEqual) {
    ParseResult a = parse({"-d", "0x40f5849a", "-r", "0XD272031D"});
    ParseResult b = parse({"-d", "40F5849A", "-r", "d272031d"});
    ASSERT_EQ(a.rc, 0);
    ASSERT_EQ(b.rc, 0);
    EXPECT_EQ(a.params.deviceSerialNumber, 0x40F5849Au);
    EXPECT_EQ(b.params.deviceSerialNumber, 0x40F5849Au);
    EXPECT_EQ(a.params.routerSerialNumber, 0xD272031Du);
    EXPECT_EQ(b.params.routerSerialNumber, 0xD272031Du);
}

TEST(Parameters, TransportByCaseSensitivePrefix) {
    EXPECT_EQ(parse({"-t", "TCPIP"}).params.transport, 2u);
    EXPECT_EQ(parse({"-t", "TCP"}).params.transport, 2u);
    EXPECT_EQ(parse({"-t", "USBX"}).params.transport, 1u);
    EXPECT_EQ(parse({"-t", "RECOVERY"}).params.transport, 255u);
    ParseResult bad = parse({"-t", "Usb"});
    EXPECT_EQ(bad.rc, 1);
    EXPECT_EQ(bad.params.transport, 0u);
    EXPECT_TRUE(bad.params.transportGiven);
    EXPECT_EQ(parse({"-t", "RECOVE"}).rc, 1);
}

TEST(Parameters, UeiBytesLoadingChoice) {
    EXPECT_FALSE(parse({"-m", "0"}).params.useUEIBytesLoading);
    EXPECT_FALSE(parse({"-m", "false"}).params.useUEIBytesLoading);
    EXPECT_FALSE(parse({"-m", "TRUE"}).params.useUEIBytesLoading);
    EXPECT_TRUE(parse({"-m", "1"}).params.useUEIBytesLoading);
    EXPECT_TRUE(parse({"-m", "10"}).params.useUEIBytesLoading);
    EXPECT_TRUE(parse({"-m", "trueish"}).params.useUEIBytesLoading);
}

TEST(Parameters, BuildNumberIsNormalisedDecimal) {
    EXPECT_EQ(parse({"-b", "007"}).params.buildNumber, "7");
    EXPECT_EQ(parse({"-b", "x7"}).params.buildNumber, "0");
    EXPECT_EQ(parse({}).params.buildNumber, "");
}

TEST(Parameters, ValuesStoredAsGiven) {
    ParseResult r = parse({"-f", "a b.bird", "-i", "/tmp/x", "-k", "log.txt", "-l", "note", "-s",
                           "/dev/ttyS0", "-o", "9600", "-e", "-n", "-u", "10.0.0.1:80"});
    ASSERT_EQ(r.rc, 0);
    const Parameters& p = r.params;
    EXPECT_EQ(p.birdFilePath, "a b.bird");
    EXPECT_EQ(p.storageDirectory, "/tmp/x");
    EXPECT_EQ(p.logFileName, "log.txt");
    EXPECT_EQ(p.historyLogMessage, "note");
    EXPECT_EQ(p.serialPort, "/dev/ttyS0");
    EXPECT_EQ(p.baudRate, 9600u);
    EXPECT_TRUE(p.echoDuringRecovery);
    EXPECT_TRUE(p.flagN);
    EXPECT_EQ(p.updateServerUrl, "10.0.0.1:80");
}

TEST(Parameters, UrlChoices) {
    EXPECT_EQ(parse({"--https"}).params.updateServerUrl, "https://update.pelmorax.invalid/cgi/u");
    EXPECT_EQ(parse({"--http"}).params.updateServerUrl, "http://update.pelmorax.invalid/cgi/u");
    ParseResult twice = parse({"-u", "a", "-u", "b"});
    EXPECT_EQ(twice.rc, 1);
    EXPECT_NE(twice.errors.find("Multiple update server URLs specified."), std::string::npos);
}

TEST(Parameters, HelpStopsAtOnce) {
    ParseResult r = parse({"-D", "--help", "-d", "zz", "-Y"});
    EXPECT_EQ(r.rc, 0);
    EXPECT_TRUE(r.params.helpRequested);
    EXPECT_TRUE(r.params.commands.IsSet(CMD_HELP));
    EXPECT_TRUE(r.params.commands.IsSet(CMD_DISCOVER));
    EXPECT_EQ(r.errors, "");
}

TEST(Parameters, DebugMaskHexOrDecimalActivatesLog) {
    ParseResult hex = parse({"-X", "0x21"});
    EXPECT_EQ(hex.params.debugBitMask, 0x21u);
    EXPECT_TRUE(hex.params.debugMaskGiven);
    EXPECT_EQ(parse({"-X", "33"}).params.debugBitMask, 33u);

    std::vector<std::string> store{"Updater", "-X", "0x8"};
    std::vector<char*> argv{store[0].data(), store[1].data(), store[2].data(), nullptr};
    CLI_Display display;
    Parameters p;
    zvtest::LogPackages restored;
    ASSERT_EQ(_get_params(display, 3, argv.data(), &p), 0);
    EXPECT_EQ(Log::EnabledPackages() & 0x8u, 0x8u);
}

TEST(CommandsClass, SetAndIsSet) {
    CommandsClass c;
    EXPECT_FALSE(c.IsSet(0xFFFFFFFF));
    EXPECT_TRUE(c.Set(CMD_Z));
    EXPECT_TRUE(c.IsSet(CMD_ANY_COMMAND));
    EXPECT_FALSE(c.IsSet(CMD_DISCOVER | CMD_UPDATE));
    EXPECT_FALSE(CommandsClass().Set(0));
}

}  // namespace
