#include "BirdShow.h"

#include <cstring>
#include <exception>

#include "BirdFile.h"

namespace {

uint32_t bigEndian32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

void printBlock(FILE* out, unsigned index, const BirdBlock& block) {
    fprintf(out, "block %u: type %u (%s) flags %u length %u", index, block.type,
            BirdFile::BlockTypeName(block.type), block.flags, block.length);
    if (block.type == BirdFile::BLOCK_LOADER || block.type == BirdFile::BLOCK_FIRMWARE) {
        fprintf(out, " address 0x%08X image %u bytes", block.address, block.length - 4);
    } else if (block.type == BirdFile::BLOCK_RECOVERY_START && block.length >= 4) {
        fprintf(out, " start 0x%08X", bigEndian32(block.data));
    }
    fprintf(out, "\n");
}

void printFile(const BirdFile& file, FILE* out) {
    char signature[5] = {0};
    for (int i = 0; i < 4; ++i) {
        char c = static_cast<char>(file.GetSignature() >> (24 - 8 * i));
        signature[i] = (c >= 0x20 && c < 0x7F) ? c : '.';
    }
    fprintf(out, "file: %s\n", file.GetPath().c_str());
    fprintf(out, "signature: %s format version: %02X %02X\n", signature,
            (file.GetFormatVersion() >> 8) & 0xFF, file.GetFormatVersion() & 0xFF);
    fprintf(out, "block stream: %u bytes, checksum %08X\n", file.GetDataLength(),
            file.GetChecksum());
    fprintf(out, "blocks: %u\n", file.GetBlockCount());
    unsigned index = 0;
    for (const BirdBlock& block : file.GetBlocks()) {
        printBlock(out, index++, block);
    }
    if (!file.FindBlocks(BirdFile::BLOCK_INFO).empty()) {
        fprintf(out, "build: %u\nversion: %s\nserial: %s\nmodel: %s\n", file.GetBuild(),
                file.GetVersion().c_str(), file.GetSerialText().c_str(), file.GetModel().c_str());
    }
    if (file.HasSerialNumberBlock()) {
        fprintf(out, "serial-number word at: 0x%08X\ndescriptor at: 0x%08X\n",
                file.GetSerialNumberOffset(), file.GetDescriptorOffset());
    }
}

}  // namespace

int BirdShow_Print(const char* path, FILE* out, FILE* err) {
    if (!BirdFile::VerifyFile(path)) {
        fprintf(err, "birdtool: %s: not a BIRD file\n", path);
        return 1;
    }
    try {
        BirdFile file(path);
        printFile(file, out);
    } catch (const std::exception& e) {
        fprintf(err, "birdtool: %s: %s\n", path, e.what());
        return 1;
    }
    return 0;
}
