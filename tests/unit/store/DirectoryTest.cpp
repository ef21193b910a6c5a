#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

#include "BuildPath.h"
#include "TestSupport.h"
#include "qDirectory.h"

using zvtest::TempDir;

namespace {

TEST(BuildPathTest, SeparatorGoesBetweenPiecesOnlyWhereNeeded) {
    char buffer[64];
    EXPECT_EQ(qDirectory_BuildPath(buffer, sizeof buffer, "a/", "b", nullptr), qErrNone);
    EXPECT_STREQ(buffer, "a/b");
    EXPECT_EQ(qDirectory_BuildPath(buffer, sizeof buffer, "a", "/b", nullptr), qErrNone);
    EXPECT_STREQ(buffer, "a/b");
    EXPECT_EQ(qDirectory_BuildPath(buffer, sizeof buffer, "/x", "y", "z.bird", nullptr), qErrNone);
    EXPECT_STREQ(buffer, "/x/y/z.bird");
    EXPECT_EQ(qDirectory_BuildPath(buffer, sizeof buffer, "only", nullptr), qErrNone);
    EXPECT_STREQ(buffer, "only");
    EXPECT_EQ(qDirectory_JoinPath(buffer, sizeof buffer, "home", ".pelmorax"), qErrNone);
    EXPECT_STREQ(buffer, "home/.pelmorax");
    EXPECT_EQ(BuildPath("a/", "b", nullptr), "a//b");
    EXPECT_EQ(BuildPath("root", "00001A2B", ".settings", nullptr), "root/00001A2B/.settings");
}

TEST(BuildPathTest, RejectsBadArgumentsAndPiecesThatDoNotFit) {
    char buffer[64];
    EXPECT_EQ(qDirectory_BuildPath(nullptr, 10, "a", nullptr), qErrParam);
    EXPECT_EQ(qDirectory_BuildPath(buffer, sizeof buffer, nullptr), qErrParam);
    strcpy(buffer, "self");
    EXPECT_EQ(qDirectory_BuildPath(buffer, sizeof buffer, "a", buffer, nullptr), qErrParam);
    EXPECT_EQ(qDirectory_BuildPath(buffer, sizeof buffer, "a", buffer + 2, nullptr), qErrParam);
    EXPECT_EQ(qDirectory_BuildPath(buffer, sizeof buffer, "1", "2", "3", "4", "5", "6", "7", "8",
                                   "9", "10", nullptr),
              qErrNone);
    EXPECT_STREQ(buffer, "1/2/3/4/5/6/7/8/9/10");
    EXPECT_EQ(qDirectory_BuildPath(buffer, sizeof buffer, "1", "2", "3", "4", "5", "6", "7", "8",
                                   "9", "10", "11", nullptr),
              qErrParam);

    char small[6];
    EXPECT_EQ(qDirectory_BuildPath(small, sizeof small, "ab", "cd", nullptr), qErrNone);
    EXPECT_STREQ(small, "ab/cd");
    EXPECT_EQ(qDirectory_BuildPath(small, sizeof small, "ab", "cde", nullptr), qErrOverrun);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(qDirectory_BuildPath(small, sizeof small, "abcdef", nullptr), qErrOverrun);
    EXPECT_EQ(qDirectory_JoinPath(small, sizeof small, "a", nullptr), qErrParam);
}

TEST(DirectoryTest, EnsureCreatesMissingParentsWithTheMode) {
    TempDir dir;
    std::string deep = dir.file("a/b//c");
    EXPECT_FALSE(qDirectory_Exists(deep.c_str()));
    EXPECT_EQ(qDirectory_Ensure(deep.c_str(), 0750), qErrNone);
    EXPECT_TRUE(qDirectory_Exists(deep.c_str()));
    struct stat st;
    ASSERT_EQ(stat(dir.file("a/b").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777 & ~0750, 0u);
    EXPECT_EQ(qDirectory_Ensure(deep.c_str(), 0750), qErrNone);

    zvtest::writeFile(dir.file("plain"), "x");
    EXPECT_FALSE(qDirectory_Exists(dir.file("plain").c_str()));
    EXPECT_FALSE(qDirectory_Exists(nullptr));
    EXPECT_EQ(qDirectory_Ensure(dir.file("plain").c_str(), 0755), qErrPermission);
    EXPECT_EQ(qDirectory_Ensure(dir.file("plain/under").c_str(), 0755), qErrPermission);
}

struct Seen {
    std::vector<std::string> names;
    std::vector<uint32_t> sizes;
    std::vector<uint32_t> directories;
    size_t stopAfter = 100;
};

bool remember(const qDirectoryListData* entry, void* context) {
    auto* seen = static_cast<Seen*>(context);
    std::string path = entry->path;
    seen->names.push_back(path);
    seen->sizes.push_back(entry->size);
    seen->directories.push_back(entry->isDirectory);
    return seen->names.size() < seen->stopAfter;
}

TEST(DirectoryTest, ListGivesFullPathsSizesAndKinds) {
    TempDir dir;
    zvtest::writeFile(dir.file("five"), "12345");
    ASSERT_EQ(qDirectory_Ensure(dir.file("sub").c_str(), 0755), qErrNone);
    Seen seen;
    EXPECT_EQ(qDirectory_List(dir.path().c_str(), remember, &seen), qErrNone);
    ASSERT_EQ(seen.names.size(), 4u);
    auto at = [&](const std::string& name) {
        auto it = std::find(seen.names.begin(), seen.names.end(), dir.file(name));
        EXPECT_NE(it, seen.names.end()) << name;
        return static_cast<size_t>(it - seen.names.begin());
    };
    EXPECT_EQ(seen.sizes[at("five")], 5u);
    EXPECT_EQ(seen.directories[at("five")], 0u);
    EXPECT_EQ(seen.directories[at("sub")], 1u);
    EXPECT_EQ(seen.directories[at(".")], 1u);
    EXPECT_EQ(seen.directories[at("..")], 1u);

    Seen first;
    first.stopAfter = 1;
    EXPECT_EQ(qDirectory_List(dir.path().c_str(), remember, &first), qErrNone);
    EXPECT_EQ(first.names.size(), 1u);
    EXPECT_EQ(qDirectory_List(dir.file("none").c_str(), remember, &first), qErrNotFound);
}

TEST(DirectoryTest, HomeDirectoryMustFitWhole) {
    char home[2048];
    EXPECT_EQ(qDirectory_GetHomeDirectory(home, sizeof home), qErrNone);
    EXPECT_GT(strlen(home), 0u);
    char tiny[1];
    // Deliberate: a home path too long for the buffer is an error, never a cut path.
    EXPECT_EQ(qDirectory_GetHomeDirectory(tiny, sizeof tiny), qErrOverrun);
    EXPECT_EQ(qDirectory_GetHomeDirectory(nullptr, 10), qErrParam);
}

}  // namespace
