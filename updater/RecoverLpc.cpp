// LPC recovery: the chip's ISP bootloader gives its serial number words (the fingerprint), and
// takes the firmware straight into flash, staged through RAM 4096 bytes at a time, sector 0
// last, every copy compared with the RAM it came from.
#include <algorithm>
#include <string>
#include <vector>

#include "Log.h"
#include "NXPSerialClass.h"
#include "RecoverySteps.h"
#include "qError.h"

namespace {

constexpr auto INFO = UpdaterDisplayInterface::LEVEL_INFO;
constexpr auto ERROR = UpdaterDisplayInterface::LEVEL_ERROR;
constexpr uint32_t CHUNK_SIZE = 4096;
constexpr uint32_t LAST_SECTOR = 29;
// A firmware block this long holds a 4-byte image: the end of the transfer.
constexpr uint32_t END_MARK_BLOCK_LENGTH = 8;

// Writes one chunk to RAM and copies it to flash. The copy is rounded up to a size the ROM
// accepts, so the RAM past the chunk is filled with erased-flash bytes and every sector the
// rounded copy reaches is prepared.
qErr writeChunk(NXPSerialClass& chip, const unsigned char* bytes, uint32_t length,
                uint32_t target) {
    const uint32_t copyLength = NXPSerialClass::CopyLength(length);
    Log::log(DEBUG_Updater, "Transferring firmware %d bytes to address 0x%08X\n", length, target);
    Log::log(DEBUG_Updater, "\t Write %d bytes to address 0x%08X\n", length,
             NXPSerialClass::WRITE_ADDRESS);
    qErr result = chip.Write(NXPSerialClass::WRITE_ADDRESS, length, bytes, copyLength);
    if (result != qErrNone) {
        Log::log(DEBUG_Updater, "\t Write to RAM failed\n");
        return result;
    }
    const uint32_t first = NXPSerialClass::SectorFromAddress(target);
    const uint32_t last = NXPSerialClass::SectorFromAddress(target + copyLength - 1);
    Log::log(DEBUG_Updater, "\t Prepare to copy to sector(s) %d to %d\n", first, last);
    result = chip.Prepare(first, last);
    if (result != qErrNone) {
        Log::log(DEBUG_Updater, "\t Prepare failed\n");
        return result;
    }
    Log::log(DEBUG_Updater, "\t Copy %d bytes from %08X to %08X\n", copyLength,
             NXPSerialClass::WRITE_ADDRESS, target);
    result = chip.CopyToFlash(target, NXPSerialClass::WRITE_ADDRESS, copyLength);
    if (result != qErrNone) {
        Log::log(DEBUG_Updater, "\t Transfer to flash failed\n");
    }
    return result;
}

// A piece of a firmware block as it goes through the RAM staging area.
struct Chunk {
    const unsigned char* bytes;
    uint32_t length;
    uint32_t target;
};

// The chip's ROM starts user code only from a valid vector table in sector 0. Writing that
// sector last means a recovery cut short leaves it erased, and the chip comes up in its ROM
// bootloader again instead of starting half an image.
bool inVectorSector(const Chunk& chunk) {
    return NXPSerialClass::SectorFromAddress(chunk.target) == 0;
}

// Compares the chunk's flash with the RAM it was copied from. While the ROM runs, the first
// 64 bytes of flash show its own vectors, so a chunk at 0 is compared from byte 64 on.
qErr compareChunk(NXPSerialClass& chip, const Chunk& chunk, uint32_t& differenceAddress) {
    const uint32_t count = (chunk.length + 3) & ~3u;
    const uint32_t hidden = chunk.target < NXPSerialClass::REMAPPED_BOOT_BYTES
                                ? NXPSerialClass::REMAPPED_BOOT_BYTES - chunk.target
                                : 0;
    if (count <= hidden) {
        return qErrNone;
    }
    uint32_t offset = 0;
    const uint32_t flash = chunk.target + hidden;
    qErr result =
        chip.Compare(flash, NXPSerialClass::WRITE_ADDRESS + hidden, count - hidden, &offset);
    differenceAddress = flash + offset;
    return result;
}

// Writes a chunk and, when asked, checks that the flash holds it. A chunk that differs is
// written once more (a copy can fail to program a cell); still differing, it is a failure with
// the address of the first difference in failedAt.
qErr writeVerifiedChunk(NXPSerialClass& chip, const Chunk& chunk, bool verify, uint32_t& failedAt) {
    qErr result = NXPSerialClass::COMPARE_MISMATCH;
    for (int attempt = 0; attempt < 2 && result == NXPSerialClass::COMPARE_MISMATCH; ++attempt) {
        result = writeChunk(chip, chunk.bytes, chunk.length, chunk.target);
        if (result != qErrNone || !verify) {
            return result;
        }
        result = compareChunk(chip, chunk, failedAt);
        if (result == NXPSerialClass::COMPARE_MISMATCH) {
            Log::log(DEBUG_Updater, "\t Flash differs from RAM at 0x%08X\n", failedAt);
        }
    }
    return result;
}

// The chunks of a firmware block, 4096 bytes each and the last shorter.
std::vector<Chunk> chunksOf(const BirdBlock& block) {
    std::vector<Chunk> chunks;
    const uint32_t length = block.length - 4;
    for (uint32_t offset = 0; offset < length; offset += CHUNK_SIZE) {
        chunks.push_back({block.data + 4 + offset, std::min(CHUNK_SIZE, length - offset),
                          block.address + offset});
    }
    return chunks;
}

uint32_t bytesIn(const std::vector<Chunk>& chunks) {
    uint32_t length = 0;
    for (const Chunk& chunk : chunks) {
        length += chunk.length;
    }
    return length;
}

// Writes the chunks with a progress bar over their bytes; written counts what was written.
qErr writeChunks(UpdaterDisplayInterface& display, NXPSerialClass& chip,
                 const std::vector<Chunk>& chunks, bool verify, uint32_t& written,
                 uint32_t& failedAt) {
    const uint32_t length = bytesIn(chunks);
    display.display_progress(true);
    qErr result = qErrNone;
    uint32_t done = 0;
    for (size_t i = 0; i < chunks.size() && result == qErrNone; ++i) {
        result = writeVerifiedChunk(chip, chunks[i], verify, failedAt);
        if (result == qErrNone) {
            done += chunks[i].length;
            display.update_progress(double(done) / double(length), nullptr);
        }
    }
    display.display_progress(false);
    written += done;
    return result;
}

// Writes one block's chunks outside sector 0 and keeps the others for the end.
qErr writeBlock(UpdaterDisplayInterface& display, NXPSerialClass& chip, const BirdBlock& block,
                int number, int shownCount, bool verify, std::vector<Chunk>& vectorSector,
                uint32_t& total, uint32_t& failedAt) {
    const uint32_t length = block.length - 4;
    display.message(INFO, "Transferring firmware block %d of %d, %d bytes", number, shownCount,
                    int(length));
    Log::log(DEBUG_Updater, "Transferring firmware block: %d bytes to address 0x%08X\n", length,
             block.address);
    std::vector<Chunk> now;
    for (const Chunk& chunk : chunksOf(block)) {
        (inVectorSector(chunk) ? vectorSector : now).push_back(chunk);
    }
    return writeChunks(display, chip, now, verify, total, failedAt);
}

// Every block outside sector 0 in file order, then sector 0.
qErr writeImage(UpdaterDisplayInterface& display, NXPSerialClass& chip,
                const std::vector<BirdBlock>& blocks, bool verify, uint32_t& total,
                uint32_t& failedAt) {
    const int shownCount = int(blocks.size()) - 1;
    std::vector<Chunk> vectorSector;
    qErr result = qErrNone;
    for (size_t i = 0; i < blocks.size() && result == qErrNone; ++i) {
        if (blocks[i].length == END_MARK_BLOCK_LENGTH) {
            break;
        }
        result = writeBlock(display, chip, blocks[i], int(i + 1), shownCount, verify, vectorSector,
                            total, failedAt);
    }
    if (result == qErrNone && !vectorSector.empty()) {
        display.message(INFO, "Transferring sector 0 last, %d bytes", int(bytesIn(vectorSector)));
        result = writeChunks(display, chip, vectorSector, verify, total, failedAt);
    }
    return result;
}

// A chip that stops answering before anything is written must not end the run without a word:
// the user gets one error line saying which step failed.
bool preparationFailed(UpdaterDisplayInterface& display, const std::string& what, qErr result) {
    Log::log(DEBUG_Network, "%s\n", what.c_str());
    display.message(ERROR, "Recovery Error preparing device ==> %s [%d, %s]", what.c_str(), result,
                    qError_GetErrorText(result));
    return false;
}

// Unlock, then prepare and erase the whole flash.
bool eraseChip(UpdaterDisplayInterface& display, NXPSerialClass& chip) {
    Log::log(DEBUG_Updater, "\n\tUnlock Memory:\n");
    qErr result = chip.Unlock();
    if (result != qErrNone) {
        return preparationFailed(display, "Could not unlock", result);
    }
    Log::log(DEBUG_Updater, "\n\tPrepare ALL memory for update:\n");
    result = chip.Prepare(0, LAST_SECTOR);
    if (result != qErrNone) {
        return preparationFailed(display, "Could not prepare", result);
    }
    Log::log(DEBUG_Updater, "\n\tErase all memory before update:\n");
    result = chip.Erase(0, LAST_SECTOR);
    if (result != qErrNone) {
        return preparationFailed(display, "Could not erase", result);
    }
    return true;
}

// Firmware blocks that cannot be written (shorter than their address, or past the 512 KB
// flash) make the file unusable: it is refused before the chip is erased.
bool firmwareWritable(UpdaterDisplayInterface& display, const std::vector<BirdBlock>& blocks) {
    for (const BirdBlock& block : blocks) {
        if (block.length == END_MARK_BLOCK_LENGTH) {
            break;
        }
        const uint64_t end = uint64_t(block.address) + (block.length >= 4 ? block.length - 4 : 0);
        if (block.length < 4 || NXPSerialClass::SectorFromAddress(block.address) >= 30 ||
            (end > block.address && NXPSerialClass::SectorFromAddress(uint32_t(end - 1)) >= 30)) {
            display.message(ERROR, "Recovery image has a firmware block the chip cannot hold");
            return false;
        }
    }
    if (blocks.empty() || blocks.front().length == END_MARK_BLOCK_LENGTH) {
        display.message(ERROR, "Recovery image has no firmware to write");
        return false;
    }
    return true;
}

}  // namespace

bool _get_fingerprint_lpc(std::string port, unsigned baud, Fingerprint& out) {
    NXPSerialClass chip;
    qErr result = chip.Connect(port, baud);
    if (result != qErrNone) {
        Log::log(DEBUG_APP, "ERROR %d ==> Could not open serial port\n", result);
        return false;
    }
    Log::log(DEBUG_APP, "\n\tSync to Device:\n");
    result = chip.Sync();
    if (result != qErrNone) {
        Log::log(DEBUG_APP, "ERROR %d ==> Could not communicate with device over serial port\n",
                 result);
        return false;
    }
    Log::log(DEBUG_APP, "\n\tGet Info from Device:\n");
    if (chip.GetDeviceID() != qErrNone) {
        Log::log(DEBUG_APP, "\tERROR ==> Got no response from chip\n");
        return false;
    }
    for (unsigned i = 0; i < 4; ++i) {
        out.word[i] = chip.DeviceIDWord(i);
    }
    return true;
}

bool _recover_firmware_lpc(UpdaterDisplayInterface& display, BirdFile& file, std::string& port,
                           unsigned baud, Fingerprint&, bool keepEcho, bool compareAfterCopy) {
    std::vector<BirdBlock> blocks = file.FindBlocks(BirdFile::BLOCK_FIRMWARE);
    if (!firmwareWritable(display, blocks)) {
        return false;
    }
    NXPSerialClass chip;
    qErr connected = chip.Connect(port, baud);
    if (connected != qErrNone) {
        return preparationFailed(display, "Could not connect to " + port, connected);
    }
    if (!eraseChip(display, chip)) {
        return false;
    }
    if (keepEcho) {
        Log::log(DEBUG_NXPSerial_E, "Echo stays on while the firmware is written\n");
    } else {
        chip.SetEcho(false);
    }
    Log::log(DEBUG_Updater, "Updating device firmware: \n");
    Log::log(DEBUG_Updater, "Transferring firmware to device from [%s]\n", file.GetPath().c_str());
    uint32_t total = 0;
    uint32_t failedAt = 0;
    const qErr result = writeImage(display, chip, blocks, compareAfterCopy, total, failedAt);
    display.message(INFO, "Transferred %d blocks, %d total bytes", int(blocks.size()) - 1,
                    int(total));
    chip.SetEcho(true);
    if (result == NXPSerialClass::COMPARE_MISMATCH) {
        // The flash does not hold the image: starting it could run anything.
        display.message(ERROR, "Flash verification failed at 0x%08X", failedAt);
        return false;
    }
    if (result != qErrNone) {
        // The flash holds part of an image that will not run: that is a failed recovery.
        display.message(ERROR, "Recovery Error transfering data to device ==> [%d, %s]", result,
                        qError_GetErrorText(result));
        return false;
    }
    display.message(INFO, "Rebooting Device");
    chip.ExecuteFrom(0);
    return true;
}
