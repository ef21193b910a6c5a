#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <unistd.h>

#include "KeyValueStore.h"
#include "StoreTestSupport.h"

using storetest::LogCapture;
using zvtest::readFile;
using zvtest::TempDir;
using zvtest::writeFile;

namespace {

std::vector<std::string> namesIn(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

class KeyValueStoreTest : public ::testing::Test {
  protected:
    KeyValueStore loadText(const std::string& text) {
        writeFile(path, text);
        return KeyValueStore(path.c_str());
    }

    TempDir dir;
    std::string path = dir.file(".settings");
};

TEST_F(KeyValueStoreTest, ParsesKeysValuesAndSkipsCommentsAndShortLines) {
    KeyValueStore store = loadText(
        "  NAME =  1234  \n"
        "#A=1\n"
        " #B=1\n"
        "X=\n"
        "Y\n"
        "V=a=b\n"
        "no equals here\n"
        "\tTAB\t=\tx y\t\r\n"
        "LAST=no newline");
    EXPECT_STREQ(store["NAME"], "1234");
    EXPECT_EQ(store["#A"], nullptr);
    EXPECT_STREQ(store["#B"], "1");
    EXPECT_STREQ(store["X"], "");
    EXPECT_EQ(store["Y"], nullptr);
    EXPECT_STREQ(store["V"], "a=b");
    EXPECT_STREQ(store["TAB"], "x y");
    EXPECT_STREQ(store["LAST"], "no newline");
    EXPECT_EQ(store.Entries().size(), 6u);
    EXPECT_FALSE(store.IsChanged());
    EXPECT_EQ(store.FileName(), path);
}

TEST_F(KeyValueStoreTest, LineFillingTheBufferEndsTheReading) {
    KeyValueStore store = loadText("A=1\nLONG=" + std::string(3000, 'x') + "\nB=2\nA=3\n");
    EXPECT_STREQ(store["A"], "1");
    EXPECT_EQ(store["LONG"], nullptr);
    EXPECT_EQ(store["B"], nullptr);
}

TEST_F(KeyValueStoreTest, LaterLineWinsAndLoadAddsToTheStore) {
    KeyValueStore store;
    store.Add("KEEP", "me");
    writeFile(path, "K=1\nK=2\n");
    store.Load(path.c_str());
    EXPECT_STREQ(store["K"], "2");
    EXPECT_STREQ(store["KEEP"], "me");
    EXPECT_FALSE(store.IsChanged());
}

TEST_F(KeyValueStoreTest, SaveWritesKeysInByteOrderAndStampsChanges) {
    KeyValueStore store = loadText(std::string("UPDATED_TIME=then\n"));
    store.Add("a", 1);
    store.Add("B", "x");
    store.Add("A9", 2.5);
    store.AddHex("A10", 0x1234);
    store.Save();
    std::string saved = readFile(path);
    std::string stamp = store["UPDATED_TIME"];
    EXPECT_EQ(saved, "A10=0x00001234\nA9=2.500000\nB=x\nUPDATED_TIME=" + stamp + "\na=1\n");
    EXPECT_NE(stamp, "then");
    EXPECT_EQ(stamp.size(), 24u);  // e.g. "Mon Dec  7 06:09:11 2026"
    EXPECT_FALSE(store.IsChanged());
    KeyValueStore back(path.c_str());
    EXPECT_EQ(back.GetHex("A10", 0), 0x1234u);
    EXPECT_DOUBLE_EQ(back.GetDouble("A9", 0), 2.5);
    EXPECT_EQ(back.GetInt("a", 0), 1);
}

TEST_F(KeyValueStoreTest, StoringTheSameTextAgainChangesNothing) {
    KeyValueStore store = loadText("K=v\nUPDATED_TIME=then\n");
    store.Add("K", "v");
    std::string same = "v";
    store.Add("K", same);
    EXPECT_FALSE(store.IsChanged());
    store.Add("EMPTY", "");
    EXPECT_FALSE(store.IsChanged());
    store.Save();
    EXPECT_EQ(readFile(path), "EMPTY=\nK=v\nUPDATED_TIME=then\n");
    store.Add("K", "w");
    EXPECT_TRUE(store.IsChanged());
}

TEST_F(KeyValueStoreTest, NumericGettersInsertAbsentKeysAndFallBackOnEmptyValues) {
    KeyValueStore store = loadText("UPDATED_TIME=then\nTEXT=abc\nHEX=ff\nB=2\n");
    EXPECT_EQ(store.GetInt("ABSENT", 7), 7);
    EXPECT_FALSE(store.IsChanged());
    EXPECT_STREQ(store["ABSENT"], "");
    EXPECT_EQ(store.GetString("OTHER", "dflt"), "dflt");
    EXPECT_EQ(store.GetString("OTHER", nullptr), "");
    EXPECT_EQ(store["OTHER"], nullptr);
    EXPECT_EQ(store.GetInt("TEXT", 5), 0);
    EXPECT_EQ(store.GetHex("HEX", 0), 0xFFu);
    EXPECT_TRUE(store.GetBOOL("B", false));
    EXPECT_TRUE(store.GetBOOL("NOBOOL", true));
    EXPECT_DOUBLE_EQ(store.GetDouble("NODOUBLE", 1.25), 1.25);
    store.Save();
    EXPECT_EQ(readFile(path),
              "ABSENT=\nB=2\nHEX=ff\nNOBOOL=\nNODOUBLE=\nTEXT=abc\nUPDATED_TIME=then\n");
    KeyValueStore back(path.c_str());
    EXPECT_EQ(back.GetInt("ABSENT", 9), 9);
}

TEST_F(KeyValueStoreTest, MergeAndClearMarkTheStoreChanged) {
    KeyValueStore store = loadText("A=1\nB=2\n");
    store.Add(KeyValueStore());
    EXPECT_FALSE(store.IsChanged());
    KeyValueStore other;
    other.Add("B", "3");
    other.Add("C", "4");
    store.Add(other);
    EXPECT_TRUE(store.IsChanged());
    EXPECT_STREQ(store["A"], "1");
    EXPECT_STREQ(store["B"], "3");
    EXPECT_STREQ(store["C"], "4");

    KeyValueStore copy = store;
    EXPECT_EQ(copy.FileName(), path);
    copy.Save();
    EXPECT_FALSE(copy.IsChanged());
    EXPECT_TRUE(copy.Clear());
    EXPECT_TRUE(copy.IsChanged());
    EXPECT_TRUE(copy.Entries().empty());
}

TEST_F(KeyValueStoreTest, MissingFileIsCreatedWithItsTimeStamps) {
    LogCapture log(DEBUG_Attributes);
    KeyValueStore store(path.c_str());
    EXPECT_EQ(log.text(), "Attibutes: Error - cannot open attributes file: '" + path + "' (2)\n");
    ASSERT_NE(store["CREATED_TIME"], nullptr);
    ASSERT_NE(store["UPDATED_TIME"], nullptr);
    EXPECT_FALSE(store.IsChanged());
    EXPECT_EQ(readFile(path), std::string("CREATED_TIME=") + store["CREATED_TIME"] +
                                  "\nUPDATED_TIME=" + store["UPDATED_TIME"] + "\n");
}

TEST_F(KeyValueStoreTest, UnwritableFileIsLoggedAndStaysChanged) {
    std::string inMissingDir = dir.file("no/such/dir/.settings");
    LogCapture log(DEBUG_Attributes);
    KeyValueStore store;
    store.Add("K", "v");
    store.Save(inMissingDir.c_str());
    EXPECT_EQ(log.text(), "Attibutes: Error - cannot open attributes file for writting: '" +
                              inMissingDir + "' (2)\n");
    EXPECT_TRUE(store.IsChanged());
    EXPECT_EQ(store.FileName(), inMissingDir);
}

TEST_F(KeyValueStoreTest, SaveWithoutAnyNameUsesTheDefaultInTheCurrentDirectory) {
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    LogCapture log(DEBUG_Attributes);
    KeyValueStore store;
    store.Add("K", "v");
    store.Save();
    EXPECT_EQ(chdir(previous), 0);
    EXPECT_EQ(log.text(),
              "Attibutes: no filename given for attributes, using default:[.settings]\n");
    EXPECT_EQ(readFile(path).substr(0, 4), "K=v\n");
}

TEST_F(KeyValueStoreTest, SaveReplacesTheFileWholeAndLeavesNoTemporaryBehind) {
    // Deliberate: settings are written aside and renamed over, so a crash never leaves half a file.
    writeFile(path, "OLD=1\n");
    std::filesystem::create_hard_link(path, dir.file("old-link"));
    KeyValueStore store;
    store.Add("NEW", "2");
    store.Save(path.c_str());
    // A new file took the name; the old content was never rewritten in place.
    EXPECT_EQ(readFile(dir.file("old-link")), "OLD=1\n");
    EXPECT_EQ(readFile(path).substr(0, 6), "NEW=2\n");
    std::vector<std::string> names = namesIn(dir.path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".settings", "old-link"}));
}

}  // namespace
