#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "qDefs.h"
#include "qVersion.h"

namespace {

void expectRoundTrip(uint32_t packed, int major, int minor, int patch) {
    EXPECT_EQ(qVersion_ParseMajor(packed), major) << std::hex << packed;
    EXPECT_EQ(qVersion_ParseMinor(packed), minor) << std::hex << packed;
    EXPECT_EQ(qVersion_ParsePatch(packed), uint32_t(patch)) << std::hex << packed;
}

}  // namespace

TEST(Version, PacksBothLayouts) {
    EXPECT_EQ(qVersion_Pack(2, 14, 7), 0x2E000007u);
    EXPECT_TRUE(qVersion_IsLegacyFormat(0x2E000007u));
    EXPECT_EQ(qVersion_Pack(2, 15, 7), 0x2F020F07u);
    EXPECT_FALSE(qVersion_IsLegacyFormat(0x2F020F07u));
    EXPECT_EQ(qVersion_Pack(3, 0, 1), 0x2F030001u);
    expectRoundTrip(0x2E000007u, 2, 14, 7);
    expectRoundTrip(0x2F020F07u, 2, 15, 7);
    expectRoundTrip(0x2F030001u, 3, 0, 1);
    // Deliberate: a version the old layout cannot hold uses the current layout, never a cut minor.
    // A minor that does not fit the legacy nibble must not be truncated.
    expectRoundTrip(qVersion_Pack(1, 20, 4), 1, 20, 4);
    expectRoundTrip(qVersion_Pack(1, 15, 255), 1, 15, 255);
    EXPECT_TRUE(qVersion_IsLegacyFormat(0x2EFFFFFFu));
    EXPECT_FALSE(qVersion_IsLegacyFormat(0x2F000000u));
}

TEST(Version, ParseStringUsesLegacyPatchWidth) {
    char text[16];
    EXPECT_EQ(qVersion_ParseString(0x10000123u, text, sizeof text), 7);
    EXPECT_STREQ(text, "1.0.291");
    EXPECT_EQ(qVersion_ParseString(0x2F020F07u, text, 4), 6);
    EXPECT_STREQ(text, "2.1");
    EXPECT_EQ(qVersion_ParseString(0x2F020F07u, nullptr, 16), 6);
}

TEST(Version, Compare) {
    EXPECT_TRUE(qVersion_IsAtLeastCompare(2, 10, 4, 2, 10, 4));
    EXPECT_TRUE(qVersion_IsAtLeastCompare(2, 11, 0, 2, 10, 4));
    EXPECT_FALSE(qVersion_IsAtLeastCompare(2, 10, 3, 2, 10, 4));
    EXPECT_FALSE(qVersion_IsAtLeastCompare(1, 255, 255, 2, 0, 0));
    EXPECT_TRUE(qVersion_IsAtLeast(2, 12, 2));
    EXPECT_FALSE(qVersion_IsAtLeast(2, 12, 3));
}

TEST(Version, LibraryVersionTextIsCachedAcrossThreads) {
    EXPECT_EQ(qVersion_GetMajor() * 10000 + qVersion_GetMinor() * 100 + qVersion_GetPatch(), 21202);
    std::vector<const char*> seen(3);
    std::vector<std::thread> threads;
    for (auto& slot : seen) {
        threads.emplace_back([&slot] { slot = qVersion_GetString(); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(std::set<const char*>(seen.begin(), seen.end()).size(), 1u);
    EXPECT_STREQ(seen[0], "2.12.2");
}

TEST(Version, Features) {
    EXPECT_TRUE(qVersion_HasFeature("VERSION"));
    EXPECT_FALSE(qVersion_HasFeature("VERSIO"));
    EXPECT_FALSE(qVersion_HasFeature(nullptr));
    char* list = qVersion_GetFeatureList();
    ASSERT_NE(list, nullptr);
    // Name, separator and description, nothing added.
    EXPECT_STREQ(list, "VERSION - Version Query API");
    EXPECT_EQ(qVersion_DestroyFeatureList(&list), qErrNone);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(qVersion_DestroyFeatureList(&list), qErrParam);
}

TEST(ModelNames, TableAndDefault) {
    std::set<std::string> names;
    for (int model = 0; model < 256; ++model) {
        std::string name = qDefs_GetModelName(static_cast<uint8_t>(model));
        EXPECT_LE(name.size(), 12u);
        if (name != "Unknown") {
            names.insert(name);
        }
    }
    EXPECT_EQ(names.size(), 17u);
    // Firmware files match a model by name prefix, so no name may begin another.
    for (const std::string& a : names) {
        for (const std::string& b : names) {
            EXPECT_TRUE(a == b || b.compare(0, a.size(), a) != 0) << a << " / " << b;
        }
    }
    EXPECT_STREQ(qDefs_GetModelName(0), "Unknown");
}
