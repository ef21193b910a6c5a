// Fuzzes the BIRD file reader: header check, inflate, block scan and every query and in-memory
// edit on whatever blocks survive. Random bytes almost never inflate, so an input that does not
// begin with "bird" is taken as a block stream and wrapped into a file first; inputs that do are
// read as whole files. Every file that parses is written again: what the reader kept must come
// back out of a second parse the same, byte for byte.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "BirdFile.h"
#include "BirdWriter.h"

namespace {

std::vector<uint8_t> asBirdFile(const uint8_t* data, size_t size) {
    if (size >= 4 && memcmp(data, "bird", 4) == 0) {
        return std::vector<uint8_t>(data, data + size);
    }
    return BirdWriter::Wrap(std::vector<uint8_t>(data, data + size));
}

// A rewrite compresses better or worse than the input did, so it may exceed the reader's inflate
// limit; only a rewrite that parses can be compared.
void expectStableRewrite(const BirdFile& file) {
    std::vector<uint8_t> rewritten = BirdWriter::Of(file).FileBytes();
    BirdFile again;
    if (again.Parse(rewritten.data(), rewritten.size()) &&
        BirdWriter::Of(again).FileBytes() != rewritten) {
        abort();
    }
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
    BirdFile::VerifyBytes(bytes.data(), bytes.size());
    BirdFile file;
    if (file.Parse(bytes.data(), bytes.size())) {
        expectStableRewrite(file);
        exercise(file);
    }
    return 0;
}
