// "-C" end to end: files made by the BIRD file tool, described by the real Updater binary.
#include <gtest/gtest.h>

#include "TestSupport.h"

using zvtest::RunResult;
using zvtest::TempDir;

namespace {

const std::string kVersion = "Updater (Version: 2.12.2 Mar 13 2026)\n";

std::string makeBird(const TempDir& dir, const std::string& name, const std::string& description) {
    std::string text = dir.file(name + ".txt");
    std::string bird = dir.file(name + ".bird");
    zvtest::writeFile(text, description);
    RunResult built = zvtest::runProgram(zvtest::birdtoolBinary(), {"build", text, bird});
    EXPECT_EQ(built.exitCode, 0) << built.err;
    return bird;
}

RunResult check(const TempDir& dir, const std::string& bird) {
    return zvtest::runProgram(zvtest::updaterBinary(), {"-C", "-f", bird, "-i", dir.path()});
}

TEST(CheckBird, DescribesBlocksAndInformation) {
    TempDir dir;
    std::string bird = makeBird(dir, "good",
                                "block type=0 address=0x10000000 random=1 size=1000\n"
                                "block type=1 flags=5 address=0x4000 random=2 size=3000\n"
                                "serial-offsets word=0x4010 descriptor=0x4100\n"
                                "block type=9 hex=0102\n"
                                "info build=98765 version=\"3.1.4 rc1\" serial=0012ABCD "
                                "model=Router\n");
    RunResult r = check(dir, bird);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, kVersion + "BIRD file: " + bird +
                         "\n"
                         "Blocks: 5\n"
                         "  Block 1: type 0 (loader), flags 0, length 1004, address 0x10000000\n"
                         "  Block 2: type 1 (firmware), flags 5, length 3004, address 0x00004000\n"
                         "  Block 3: type 2 (serial number offsets), flags 0, length 8, address "
                         "0x00000000\n"
                         "  Block 4: type 9 (unused), flags 0, length 2, address 0x00000000\n"
                         "  Block 5: type 4 (information), flags 0, length 64, address 0x00000000\n"
                         "Build: 98765\n"
                         "Version: 3.1.4\n"
                         "Serial number: 0012ABCD\n"
                         "Model: Router\n");
}

TEST(CheckBird, FileWithoutInformationBlockSaysSo) {
    TempDir dir;
    std::string bird = makeBird(dir, "bare", "block type=1 address=0x100 random=7 size=64\n");
    RunResult r = check(dir, bird);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Blocks: 1\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("No information block\n"), std::string::npos) << r.out;
}

TEST(CheckBird, BodyThatDoesNotInflateFails) {
    TempDir dir;
    std::string bird = dir.file("broken.bird");
    zvtest::writeFile(bird, std::string("bird\x01\x01", 6) + "this is not a zlib stream");
    RunResult r = check(dir, bird);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, kVersion);
    EXPECT_EQ(r.err, "Failed to load bird file\n");
}

TEST(CheckBird, WrongHeaderOrMissingFileFails) {
    TempDir dir;
    std::string upper = makeBird(dir, "upper", "header BIRD 1 1\nblock type=1 hex=00000000ff\n");
    RunResult r = check(dir, upper);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Invalid bird " + upper + "\n");

    RunResult missing = check(dir, dir.file("absent.bird"));
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "Invalid bird " + dir.file("absent.bird") + "\n");
}

TEST(CheckBird, WithoutFileOptionFails) {
    TempDir dir;
    RunResult r = zvtest::runProgram(zvtest::updaterBinary(), {"-C", "-i", dir.path()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "-C must specify a BIRD file via -f\n");
}

TEST(CheckBird, MalformedBlocksAreListedAsFarAsTheyRead) {
    // Deliberate: an image block shorter than its address ends the scan; it is never added.
    TempDir dir;
    // The second firmware block is shorter than its load address; the block after it is lost
    // with it, but what came before still loads.
    std::string bird = makeBird(dir, "short",
                                "block type=1 address=0x100 random=3 size=32\n"
                                "block type=1 raw hex=0102\n"
                                "info build=1 version=1.0.0 serial=1 model=Hub-4\n");
    RunResult r = check(dir, bird);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Blocks: 1\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("No information block\n"), std::string::npos) << r.out;
}

}  // namespace
