// The history file's format: whole lines appended and flushed, a line a crash cut kept apart
// from the next, whatever does not parse skipped on reading, and nothing ever truncated.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "FileDigest.h"
#include "ModuleHistory.h"
#include "TestSupport.h"

namespace {

HistoryEntry entry(const std::string& result, unsigned buildAfter) {
    HistoryEntry e;
    e.time = "2026-12-10T18:26:32Z";
    e.host = "line-3";
    e.user = "operator";
    e.version = "2.12.2";
    e.command = "Updater -U -d 40F5849A -l 'shift 2'";
    e.serial = 0x40F5849A;
    e.link = "I2C";
    e.routerSerial = 0x00C0FFEE;
    e.model = "Hub-4";
    e.buildBefore = 1000;
    e.buildAfter = buildAfter;
    e.file = "/store/40F5849A/1300.bird";
    e.fileSha256 = std::string(64, 'a');
    e.result = result;
    e.error = result == "failed" ? "Firmware update failed [3, qErrTimeout]" : "";
    e.seconds = 41.25;
    e.message = "shift 2";
    return e;
}

void append(const std::string& path, const HistoryEntry& e) {
    std::string failure;
    ASSERT_TRUE(ModuleHistory_Append(path, e, failure)) << failure;
}

std::vector<std::string> results(const HistoryRead& read) {
    std::vector<std::string> seen;
    for (const HistoryEntry& e : read.entries) {
        seen.push_back(e.result);
    }
    return seen;
}

TEST(ModuleHistory, EveryFieldSurvivesTheLineAndUnknownsAreNull) {
    zvtest::TempDir dir;
    const std::string path = dir.file(".history");
    const HistoryEntry full = entry("updated", 1300);
    HistoryEntry sparse;
    sparse.serial = 0x40F5849A;
    sparse.result = "failed";
    append(path, full);
    append(path, sparse);

    HistoryRead read = ModuleHistory_Read(path);
    ASSERT_EQ(read.entries.size(), 2u);
    EXPECT_EQ(read.skipped, 0u);
    EXPECT_EQ(HistoryEntry_Json(read.entries[0]), HistoryEntry_Json(full));
    const nlohmann::json line =
        nlohmann::json::parse(zvtest::splitLines(zvtest::readFile(path))[1]);
    EXPECT_EQ(line["serial"], "40F5849A");
    for (const char* unknown : {"link_type", "router_serial", "model", "build_before",
                                "build_after", "file", "file_sha256", "error", "message"}) {
        EXPECT_TRUE(line[unknown].is_null()) << unknown;
    }
    EXPECT_EQ(read.entries[1].routerSerial, 0u);
    EXPECT_EQ(read.entries[1].buildBefore, 0u);
}

TEST(ModuleHistory, LineCutByACrashIsSkippedAndTheNextStartsOnAFreshLine) {
    zvtest::TempDir dir;
    const std::string path = dir.file(".history");
    append(path, entry("updated", 1300));
    const std::string whole = zvtest::readFile(path);
    // A crash in the middle of the next line's write.
    zvtest::writeFile(path, whole + "{\"time\":\"2026-12-10T19:00:00Z\",\"res");
    append(path, entry("failed", 0));

    const std::string text = zvtest::readFile(path);
    EXPECT_EQ(text.rfind(whole + "{\"time\":\"2026-12-10T19:00:00Z\",\"res\n{", 0), 0u) << text;
    HistoryRead read = ModuleHistory_Read(path);
    EXPECT_EQ(results(read), (std::vector<std::string>{"updated", "failed"}));
    EXPECT_EQ(read.skipped, 1u);
}

TEST(ModuleHistory, WhatIsNotAJsonObjectIsSkipped) {
    zvtest::TempDir dir;
    const std::string path = dir.file(".history");
    zvtest::writeFile(path, std::string("garbage\n[1,2]\n\n\"text\"\n{\"result\":\"upd\xff\"}\n") +
                                "{\"result\":\"updated\",\"serial\":7,\"build_after\":-3}\n");
    HistoryRead read = ModuleHistory_Read(path);
    EXPECT_EQ(read.skipped, 4u);  // the empty line is no entry and no damage
    ASSERT_EQ(read.entries.size(), 1u);
    // Members of the wrong type are left unknown, the rest is read.
    EXPECT_EQ(read.entries[0].result, "updated");
    EXPECT_EQ(read.entries[0].serial, 0u);
    EXPECT_EQ(read.entries[0].buildAfter, 0u);
}

TEST(ModuleHistory, AppendsKeepEveryByteBeforeThemAndTheFileIsTheOwnersOnly) {
    zvtest::TempDir dir;
    const std::string path = dir.file(".history");
    std::string before;
    for (unsigned i = 1; i <= 12; ++i) {
        append(path, entry(i % 3 == 0 ? "failed" : "updated", 1000 + i));
        const std::string now = zvtest::readFile(path);
        ASSERT_EQ(now.compare(0, before.size(), before), 0) << "append " << i;
        ASSERT_GT(now.size(), before.size());
        ASSERT_EQ(now.back(), '\n');
        before = now;
    }
    HistoryRead read = ModuleHistory_Read(path);
    ASSERT_EQ(read.entries.size(), 12u);
    EXPECT_EQ(read.entries.back().buildAfter, 1012u);  // oldest first
    struct stat seen;
    ASSERT_EQ(stat(path.c_str(), &seen), 0);
    EXPECT_EQ(seen.st_mode & 0777, 0600u);
}

TEST(ModuleHistory, TwoProcessesAppendingAtOnceNeverMixTheirLines) {
    // An Updater told the module is busy appends beside the one holding it.
    zvtest::TempDir dir;
    const std::string path = dir.file(".history");
    constexpr unsigned kEach = 200;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    HistoryEntry mine = entry(child == 0 ? "busy" : "updated", 1300);
    mine.message.assign(3000, child == 0 ? 'b' : 'u');  // lines of several kilobytes
    for (unsigned i = 0; i < kEach; ++i) {
        std::string failure;
        if (!ModuleHistory_Append(path, mine, failure) && child == 0) {
            _exit(1);
        }
    }
    if (child == 0) {
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    HistoryRead read = ModuleHistory_Read(path);
    EXPECT_EQ(read.skipped, 0u);
    ASSERT_EQ(read.entries.size(), 2 * kEach);
    for (const HistoryEntry& e : read.entries) {
        ASSERT_EQ(e.message, std::string(3000, e.result == "busy" ? 'b' : 'u'));
    }
}

TEST(ModuleHistory, NoteThatIsNotUtf8StillGivesAWholeLine) {
    zvtest::TempDir dir;
    const std::string path = dir.file(".history");
    HistoryEntry e = entry("updated", 1300);
    e.message = "caf\xe9";  // Latin-1
    append(path, e);
    HistoryRead read = ModuleHistory_Read(path);
    ASSERT_EQ(read.entries.size(), 1u);
    EXPECT_EQ(read.entries[0].message, "caf\xef\xbf\xbd");  // U+FFFD in its place
}

TEST(ModuleHistory, SymbolicLinkOrMissingDirectoryIsRefusedWithTheReason) {
    zvtest::TempDir dir;
    const std::string target = dir.file("elsewhere");
    zvtest::writeFile(target, "kept\n");
    ASSERT_EQ(symlink(target.c_str(), dir.file(".history").c_str()), 0);
    std::string failure;
    EXPECT_FALSE(ModuleHistory_Append(dir.file(".history"), entry("updated", 1300), failure));
    EXPECT_NE(failure.find("cannot open"), std::string::npos) << failure;
    EXPECT_EQ(zvtest::readFile(target), "kept\n");
    failure.clear();
    EXPECT_FALSE(ModuleHistory_Append(dir.file("none/.history"), entry("updated", 1), failure));
    EXPECT_NE(failure.find("No such file"), std::string::npos) << failure;
    EXPECT_TRUE(ModuleHistory_Read(dir.file("none/.history")).entries.empty());
}

TEST(FileDigest, Sha256OfKnownTextsAndOfNoFile) {
    zvtest::TempDir dir;
    // FIPS 180-2's examples: "abc", and the empty message.
    zvtest::writeFile(dir.file("abc"), "abc");
    zvtest::writeFile(dir.file("empty"), "");
    EXPECT_EQ(FileDigest_Sha256(dir.file("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(FileDigest_Sha256(dir.file("empty")),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(FileDigest_Sha256(dir.file("missing")), "");
}

}  // namespace
