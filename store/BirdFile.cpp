#include "BirdFile.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <zlib.h>

#include "Log.h"
#include "unix_file.h"

namespace {

const size_t HEADER_SIZE = 6;
const size_t BLOCK_HEADER_SIZE = 5;
const size_t SERIAL_TEXT_LENGTH = 8;
const size_t DESCRIPTOR_BYTES = 2 * SERIAL_TEXT_LENGTH;

uint32_t readBigEndian32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

uint32_t readLittleEndian32(const unsigned char* p) {
    return (uint32_t(p[3]) << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | uint32_t(p[0]);
}

void writeLittleEndian32(unsigned char* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

bool carriesImage(uint8_t type) {
    return type == BirdFile::BLOCK_LOADER || type == BirdFile::BLOCK_FIRMWARE;
}

// The information block padded with blanks to its full size, so a short block never leads a
// reader past its payload.
void paddedInfo(const BirdBlock& block, char (&info)[BirdFile::INFO_BLOCK_SIZE]) {
    memset(info, ' ', sizeof info);
    memcpy(info, block.data, std::min<size_t>(block.length, sizeof info));
}

void logInfoFields(const BirdBlock& block) {
    char info[BirdFile::INFO_BLOCK_SIZE];
    paddedInfo(block, info);
    for (size_t offset = 0; offset < sizeof info; offset += 16) {
        char field[17] = {0};
        memcpy(field, info + offset, 16);
        Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t \t[%16.16s]\n", field);
    }
}

// Whether the target range [start, start + size) lies inside an image loaded at address.
bool imageHolds(const BirdBlock& block, uint64_t start, uint64_t size) {
    uint64_t first = block.address;
    uint64_t end = first + block.length - 4;
    return first <= start && start + size <= end;
}

}  // namespace

BirdFile::BirdFile() = default;

BirdFile::BirdFile(const char* path) : path_(path == nullptr ? "" : path) {
    if (!Load()) {
        throw std::runtime_error("Failed to load bird data");
    }
}

void BirdFile::reset() {
    signature_ = 0;
    version_ = 0;
    checksum_ = 0;
    blockCount_ = 0;
    blocks_.clear();
    hasSerialNumberBlock_ = false;
    serialNumberOffset_ = 0;
    descriptorOffset_ = 0;
    data_.reset();
    dataLength_ = 0;
}

bool BirdFile::Load() {
    reset();
    const char* path = path_.c_str();
    Log::log(DEBUG_BirdFile, "BIRDFILE: Loading File [%s]\n", path);
    if (!qFile_Exists(path)) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: BIRD file not found [%s]\n", path);
        return false;
    }
    std::vector<unsigned char> bytes;
    if (!readWholeFile(bytes)) {
        return false;
    }
    return Parse(bytes.data(), bytes.size());
}

bool BirdFile::Parse(const unsigned char* bytes, size_t size) {
    reset();
    if (size > HEADER_SIZE) {
        signature_ = readBigEndian32(bytes);
        version_ = (uint32_t(bytes[4]) << 8) | bytes[5];
    }
    if (!decompress(bytes, size)) {
        return false;
    }
    scanBlocks();
    readSerialOffsets();
    hasSerialNumberBlock_ = !FindBlocks(BLOCK_SERIAL_OFFSETS).empty();
    return true;
}

bool BirdFile::readWholeFile(std::vector<unsigned char>& bytes) {
    const char* path = path_.c_str();
    qFile* file = qFile_Open(path, qFileModeRead);
    if (file == nullptr) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error - cannot open bird file: '%s'\n", path);
        return false;
    }
    size_t size = 0;
    qErr err = qFile_GetSize(file, &size);
    if (err != qErrNone) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) getting bird file size from %s\n", err,
                 path);
        qFile_Close(&file);
        return false;
    }
    size_t got = 0;
    try {
        bytes.resize(size);
        err = qFile_Read(file, bytes.data(), size, &got);
    } catch (const std::bad_alloc&) {
        err = qErrMemory;
    }
    qFile_Close(&file);
    if (err != qErrNone) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) reading %s\n", err, path);
        return false;
    }
    if (got < size) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error reading %s read %zu bytes of %zu byte file\n",
                 path, got, size);
        return false;
    }
    return true;
}

uint32_t BirdFile::DecompressionCapacity(uint64_t compressedLength) {
    // Computed in 64 bits: 8 times a body past 512 MiB would wrap in 32.
    if (compressedLength > MAX_DECOMPRESSED_SIZE / 8) {
        return MAX_DECOMPRESSED_SIZE;
    }
    return static_cast<uint32_t>(compressedLength * 8);
}

bool BirdFile::decompress(const unsigned char* bytes, size_t size) {
    static const unsigned char nothing = 0;
    size_t compressed = size > HEADER_SIZE ? size - HEADER_SIZE : 0;
    const unsigned char* source = compressed > 0 ? bytes + HEADER_SIZE : &nothing;
    uint64_t capacity = DecompressionCapacity(compressed);
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[capacity + 1]);
    int rc = Z_MEM_ERROR;
    uLongf produced = static_cast<uLongf>(capacity);
    if (buffer) {
        rc = uncompress(buffer.get(), &produced, source, static_cast<uLong>(compressed));
    }
    if (rc != Z_OK) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) decompressing bird file.\n", rc);
        dataLength_ = 0;
        return false;
    }
    data_ = std::move(buffer);
    dataLength_ = static_cast<uint32_t>(produced);
    return true;
}

bool BirdFile::scanBlocks() {
    blockCount_ = 0;
    blocks_.clear();
    const unsigned char* data = data_.get();
    if (dataLength_ < 4) {
        Log::log(DEBUG_BirdFile,
                 "BIRDFILE: Block parsing mismatch in data size. (%d bytes remaining)\n",
                 int(dataLength_) - 4);
        return false;
    }
    uint32_t reported = readBigEndian32(data);
    Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t File reports %d blocks\n", int(reported));
    Log::log(DEBUG_BirdFile, "BIRDFILE: Bird file objects:\n");
    Log::log(DEBUG_BirdFile, "BIRDFILE: \t\tType Flags Length\n");
    size_t position = 4;
    while (dataLength_ - position > 4 && scanOneBlock(position)) {
    }
    int64_t remaining = int64_t(dataLength_) - int64_t(position);
    if (remaining >= 4) {
        checksum_ = readBigEndian32(data + position);
        Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t File checksum %08X\n", checksum_);
    }
    remaining -= 4;
    bool consistent = true;
    if (remaining != 0) {
        Log::log(DEBUG_BirdFile,
                 "BIRDFILE: Block parsing mismatch in data size. (%d bytes remaining)\n",
                 int(remaining));
        consistent = false;
    }
    if (blockCount_ != reported) {
        Log::log(DEBUG_BirdFile,
                 "BIRDFILE: Block parsing mismatch in number of blocks. (%d != %d)\n",
                 int(blockCount_), int(reported));
        consistent = false;
    }
    return consistent;
}

// Parses the block at position (at least five bytes remain); false ends the scan there, leaving
// position at the block so the rest counts as unparsed.
bool BirdFile::scanOneBlock(size_t& position) {
    unsigned char* header = data_.get() + position;
    BirdBlock block;
    block.type = header[0] & BIRD_FILE_TYPE_MASK;
    block.flags = static_cast<uint8_t>((header[0] & BIRD_FILE_FLAG_MASK) >> 5);
    block.length = readBigEndian32(header + 1);
    block.data = header + BLOCK_HEADER_SIZE;
    Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t %02X   %02X   %d\n", block.type, block.flags,
             int(block.length));
    size_t available = dataLength_ - position - BLOCK_HEADER_SIZE;
    if (block.length > available) {
        return false;
    }
    if (carriesImage(block.type)) {
        // Without its load address the block has no image; nothing may take length - 4 of it.
        if (block.length < 4) {
            return false;
        }
        block.address = readBigEndian32(block.data);
    }
    if (block.type == BLOCK_INFO) {
        logInfoFields(block);
    }
    position += BLOCK_HEADER_SIZE + block.length;
    ++blockCount_;
    blocks_.push_back(block);
    return true;
}

void BirdFile::readSerialOffsets() {
    if (blockCount_ == 0) {
        return;
    }
    std::vector<BirdBlock> offsets = FindBlocks(BLOCK_SERIAL_OFFSETS);
    if (offsets.empty() || offsets.front().length < 8) {
        return;
    }
    serialNumberOffset_ = readBigEndian32(offsets.front().data);
    descriptorOffset_ = readBigEndian32(offsets.front().data + 4);
    Log::log(DEBUG_BirdFile, "BIRDFILE: Offsets: Serial number: %d, Descriptor: %d\n",
             int(serialNumberOffset_), int(descriptorOffset_));
}

bool BirdFile::VerifyFile(const char* path) {
    if (path == nullptr) {
        return false;
    }
    qFile* file = qFile_Open(path, qFileModeRead);
    if (file == nullptr) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error - cannot open bird file: '%s'\n", path);
        return false;
    }
    unsigned char header[HEADER_SIZE];
    size_t got = 0;
    qErr err = qFile_Read(file, header, sizeof header, &got);
    qFile_Close(&file);
    return err == qErrNone && VerifyBytes(header, got);
}

bool BirdFile::VerifyBytes(const unsigned char* bytes, size_t length) {
    return bytes != nullptr && length >= HEADER_SIZE &&
           memcmp(bytes, BIRD_FILE_SIGNATURE, 4) == 0 && bytes[4] != 0 && bytes[5] != 0;
}

std::vector<BirdBlock> BirdFile::FindBlocks(uint8_t type) const {
    std::vector<BirdBlock> found;
    for (const BirdBlock& block : blocks_) {
        if (block.type == type) {
            found.push_back(block);
        }
    }
    return found;
}

bool BirdFile::infoField(size_t offset, size_t length, std::string& field) const {
    for (const BirdBlock& block : blocks_) {
        if (block.type == BLOCK_INFO) {
            char info[INFO_BLOCK_SIZE];
            paddedInfo(block, info);
            field.assign(info + offset, length);
            // The fields are C text: a NUL ends one early.
            field.resize(strnlen(field.c_str(), length));
            return true;
        }
    }
    field.clear();
    return false;
}

unsigned BirdFile::GetSerialNumber() const {
    std::string text;
    if (!infoField(32, SERIAL_TEXT_LENGTH, text)) {
        return 0;
    }
    return static_cast<unsigned>(strtoul(text.c_str(), nullptr, 16));
}

std::string BirdFile::GetSerialText() const {
    std::string text;
    infoField(32, SERIAL_TEXT_LENGTH, text);
    return text;
}

unsigned BirdFile::GetBuild() const {
    std::string text;
    if (!infoField(0, 15, text)) {
        return 0;
    }
    return static_cast<unsigned>(strtoul(text.c_str(), nullptr, 10));
}

std::string BirdFile::GetVersion() const {
    std::string text;
    infoField(16, 15, text);
    return text.substr(0, text.find(' '));
}

std::string BirdFile::GetModel() const {
    std::string text;
    infoField(48, 16, text);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

bool BirdFile::ValidateModel(const char* modelName) const {
    if (modelName == nullptr || FindBlocks(BLOCK_INFO).empty()) {
        return false;
    }
    std::string model = GetModel();
    size_t length = strlen(modelName);
    if (model.size() < length || model.compare(0, length, modelName) != 0) {
        return false;
    }
    Log::log(DEBUG_BirdFile, "Model matches model number ([%s] == [%s])\n", model.c_str(),
             modelName);
    return true;
}

bool BirdFile::ReplaceSerialNumber(unsigned serial) {
    char digits[SERIAL_TEXT_LENGTH + 1];
    snprintf(digits, sizeof digits, "%08X", serial);
    const uint32_t S = serialNumberOffset_;
    const uint32_t D = descriptorOffset_;
    bool patched = false;
    for (const BirdBlock& block : blocks_) {
        if (block.type != BLOCK_FIRMWARE) {
            continue;
        }
        unsigned char* image = block.data + 4;
        // Success means the word really was written: an offset outside every image would send
        // the generic image unpatched.
        if (S != 0 && imageHolds(block, S, 4)) {
            unsigned char* word = image + (S - block.address);
            Log::log(DEBUG_BirdFile, "BIRDFILE: updating serial number from %08X ==> %08X\n",
                     readLittleEndian32(word), serial);
            writeLittleEndian32(word, serial);
            patched = true;
        }
        // The string descriptor holds 16-bit little-endian characters: only the low bytes change.
        if (D != 0 && imageHolds(block, D, DESCRIPTOR_BYTES)) {
            unsigned char* text = image + (D - block.address);
            for (size_t i = 0; i < SERIAL_TEXT_LENGTH; ++i) {
                text[2 * i] = static_cast<unsigned char>(digits[i]);
            }
            patched = true;
        }
    }
    return patched;
}

bool BirdFile::DecodeFirmwareBlocks(const unsigned key[4]) {
    if (key == nullptr) {
        return false;
    }
    unsigned char stream[16];
    for (int i = 0; i < 16; ++i) {
        stream[i] = static_cast<unsigned char>(key[i / 4] >> (24 - 8 * (i % 4)));
    }
    for (const BirdBlock& block : blocks_) {
        if (block.type != BLOCK_FIRMWARE) {
            continue;
        }
        unsigned char* image = block.data + 4;
        unsigned char previous = 0;
        for (uint32_t i = 0; i < block.length - 4; ++i) {
            unsigned char plain = image[i] ^ stream[i % 16] ^ previous;
            image[i] = plain;
            previous = plain;
        }
    }
    return true;
}

const char* BirdFile::BlockTypeName(uint8_t type) {
    switch (type) {
        case BLOCK_LOADER:
            return "loader";
        case BLOCK_FIRMWARE:
            return "firmware";
        case BLOCK_SERIAL_OFFSETS:
            return "serial number offsets";
        case BLOCK_INFO:
            return "information";
        case BLOCK_RECOVERY_START:
            return "recovery start address";
        default:
            return "unused";
    }
}
