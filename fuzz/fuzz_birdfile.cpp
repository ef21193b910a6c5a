// Fuzzes the BIRD file reader: header check, inflate, block scan and every query and in-memory
// edit on whatever blocks survive. Random bytes almost never inflate, so an input that does not
// begin with "bird" is taken as a block stream and wrapped into a file first; inputs that do are
// read as whole files.
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>
#include <zlib.h>

#include "BirdFile.h"
#include "FuzzTempFile.h"

namespace {

std::vector<uint8_t> asBirdFile(const uint8_t* data, size_t size) {
    if (size >= 4 && memcmp(data, "bird", 4) == 0) {
        return std::vector<uint8_t>(data, data + size);
    }
    uLongf packedSize = compressBound(static_cast<uLong>(size));
    std::vector<uint8_t> file(6 + packedSize);
    memcpy(file.data(), "bird\x01\x01", 6);
    if (compress(file.data() + 6, &packedSize, data, static_cast<uLong>(size)) != Z_OK) {
        return {};
    }
    file.resize(6 + packedSize);
    return file;
}

void exercise(BirdFile& file) {
    file.GetSerialNumber();
    file.GetBuild();
    file.GetVersion();
    file.GetModel();
    file.ValidateModel("HUB");
    file.ReplaceSerialNumber(0x12345678);
    const unsigned key[4] = {0x01020304, 0x05060708, 0x090A0B0C, 0x0D0E0F10};
    file.DecodeFirmwareBlocks(key);
    for (const BirdBlock& block : file.GetBlocks()) {
        if (block.length > 0) {
            volatile unsigned char last = block.data[block.length - 1];
            (void)last;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes = asBirdFile(data, size);
    FuzzTempFile input(bytes.data(), bytes.size());
    if (!input.ok()) {
        return 0;
    }
    BirdFile::VerifyFile(input.path());
    try {
        BirdFile file(input.path());
        exercise(file);
    } catch (const std::runtime_error&) {
    }
    return 0;
}
