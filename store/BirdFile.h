// A BIRD firmware file: "bird", a two-byte format version and a zlib stream of blocks (loader and
// firmware images, an information block, serial-number offsets, a recovery start address). The
// whole block stream is kept in memory; blocks point into it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct BirdBlock {
    uint8_t type = 0;
    uint8_t flags = 0;              // the three flag bits, 0..7
    uint32_t length = 0;            // payload length, load address included
    uint32_t address = 0;           // load address of loader and firmware blocks, else 0
    unsigned char* data = nullptr;  // first payload byte, inside the owning BirdFile
};

class BirdFile {
  public:
    enum BLOCK_TYPE : uint8_t {
        BLOCK_LOADER = 0,
        BLOCK_FIRMWARE = 1,
        BLOCK_SERIAL_OFFSETS = 2,
        BLOCK_INFO = 4,
        BLOCK_RECOVERY_START = 5,
    };

    static constexpr const char* BIRD_FILE_SIGNATURE = "bird";
    static constexpr unsigned char BIRD_FILE_VERSION[2] = {0x01, 0x01};
    static constexpr uint8_t BIRD_FILE_TYPE_MASK = 0x1F;
    static constexpr uint8_t BIRD_FILE_FLAG_MASK = 0xE0;
    // Bodies are inflated into at most 8 times their compressed size, and never more than this.
    static constexpr uint32_t MAX_DECOMPRESSED_SIZE = 256u * 1024u * 1024u;
    static constexpr size_t INFO_BLOCK_SIZE = 64;

    // Room given to a body of compressedLength bytes: 8 times it, at most MAX_DECOMPRESSED_SIZE.
    static uint32_t DecompressionCapacity(uint64_t compressedLength);

    BirdFile();
    // Throws std::runtime_error("Failed to load bird data") when Load fails.
    explicit BirdFile(const char* path);
    BirdFile(BirdFile&&) noexcept = default;
    BirdFile& operator=(BirdFile&&) noexcept = default;
    BirdFile(const BirdFile&) = delete;
    BirdFile& operator=(const BirdFile&) = delete;

    // A short name for a block type, for people reading a file's description.
    static const char* BlockTypeName(uint8_t type);

    // Reads the file at the stored path and parses it.
    bool Load();
    // Parses a whole file's bytes held in memory: header, inflated body and block scan. The
    // signature is not compared (VerifyBytes does that); count and size mismatches are only
    // logged. False when the body does not inflate.
    bool Parse(const unsigned char* bytes, size_t size);
    // Cheap header check: exactly six bytes, "bird", and two non-zero version bytes.
    static bool VerifyFile(const char* path);
    // The same check on bytes in memory (the first six of them).
    static bool VerifyBytes(const unsigned char* bytes, size_t length);

    std::vector<BirdBlock> FindBlocks(uint8_t type) const;
    unsigned GetSerialNumber() const;
    bool ValidateSerialNumber(unsigned serial) const { return serial == GetSerialNumber(); }
    unsigned GetBuild() const;
    std::string GetVersion() const;
    bool ValidateModel(const char* modelName) const;
    // Patches the serial number into the firmware image where the serial-number block says.
    bool ReplaceSerialNumber(unsigned serial);
    // Undoes the per-chip scrambling of the firmware blocks with the chip's fingerprint.
    bool DecodeFirmwareBlocks(const unsigned key[4]);

    const std::vector<BirdBlock>& GetBlocks() const { return blocks_; }
    unsigned GetBlockCount() const { return blockCount_; }
    bool HasSerialNumberBlock() const { return hasSerialNumberBlock_; }
    unsigned GetSerialNumberOffset() const { return serialNumberOffset_; }
    unsigned GetDescriptorOffset() const { return descriptorOffset_; }
    const std::string& GetPath() const { return path_; }
    unsigned GetSignature() const { return signature_; }
    unsigned GetFormatVersion() const { return version_; }
    unsigned GetChecksum() const { return checksum_; }
    unsigned GetDataLength() const { return dataLength_; }
    // The model field without trailing blanks; empty without an information block.
    std::string GetModel() const;
    // The eight serial-number characters as stored; empty without an information block.
    std::string GetSerialText() const;

  private:
    void reset();
    bool readWholeFile(std::vector<unsigned char>& bytes);
    bool decompress(const unsigned char* bytes, size_t size);
    bool scanBlocks();
    bool scanOneBlock(size_t& position);
    void readSerialOffsets();
    // The first information block's 64 bytes, blank-padded when the block is shorter.
    bool infoField(size_t offset, size_t length, std::string& field) const;

    std::string path_;
    uint32_t signature_ = 0;
    uint32_t version_ = 0;
    uint32_t checksum_ = 0;
    uint32_t blockCount_ = 0;
    std::vector<BirdBlock> blocks_;
    bool hasSerialNumberBlock_ = false;
    uint32_t serialNumberOffset_ = 0;
    uint32_t descriptorOffset_ = 0;
    std::unique_ptr<unsigned char[]> data_;
    uint32_t dataLength_ = 0;
};
