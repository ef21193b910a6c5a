// The recovery steps' decisions that do not need a chip: where an i.MX recovery loader starts,
// and which files are refused before anything reaches the chip.
#include <gtest/gtest.h>

#include "BirdWriter.h"
#include "CLI_Display.h"
#include "RecoverySteps.h"
#include "TestSupport.h"

namespace {

BirdFile written(const BirdWriter& writer, const zvtest::TempDir& dir) {
    const std::string path = dir.file("image.bird");
    EXPECT_TRUE(writer.WriteTo(path));
    return BirdFile(path.c_str());
}

TEST(RecoveryStartAddress, TakesTheStartBlockOnlyWhenItHoldsAnAddress) {
    zvtest::TempDir dir;
    BirdWriter none;
    none.AddImage(BirdFile::BLOCK_LOADER, 0, 0x10000000, {1, 2, 3, 4});
    EXPECT_EQ(_recovery_start_address(written(none, dir)), DEFAULT_RECOVERY_START);

    BirdWriter given = none;
    given.AddRecoveryStart(0x10000400);
    EXPECT_EQ(_recovery_start_address(written(given, dir)), 0x10000400u);

    BirdWriter shortBlock = none;
    shortBlock.AddRaw(BirdFile::BLOCK_RECOVERY_START, 0, {0x10, 0x00, 0x04});
    EXPECT_EQ(_recovery_start_address(written(shortBlock, dir)), 0x20000400u);
}

TEST(RecoveryLoaderTransfer, MalformedLoadersAreRefusedBeforeThePortIsOpened) {
    zvtest::TempDir dir;
    CLI_Display display;
    // A port that does not exist would fail the transport's set-up: a refusal must come first,
    // with its own code.
    const std::string port = dir.file("no-such-port");
    BirdWriter noLoader;
    noLoader.AddImage(BirdFile::BLOCK_FIRMWARE, 0, 0x4000, {1, 2, 3, 4});
    BirdFile withoutLoader = written(noLoader, dir);
    // Deliberate: an image without a loader block is refused: the chip would jump into stale RAM.
    EXPECT_EQ(_transfer_recovery_loader(display, withoutLoader, port), qErrSize);

    BirdWriter shortLoader;
    shortLoader.AddRaw(BirdFile::BLOCK_LOADER, 0, {0x10, 0x00});
    BirdFile withShortLoader = written(shortLoader, dir);
    EXPECT_EQ(_transfer_recovery_loader(display, withShortLoader, port), qErrSize);

    BirdWriter good;
    good.AddImage(BirdFile::BLOCK_LOADER, 0, 0x10000000, {1, 2, 3, 4});
    BirdFile goodFile = written(good, dir);
    EXPECT_EQ(_transfer_recovery_loader(display, goodFile, port), qErrNotReady);
}

}  // namespace
