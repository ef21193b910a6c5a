// Builds BIRD files: the counterpart of BirdFile for tools and tests. The updater itself never
// writes one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class BirdFile;

struct BirdWriterBlock {
    uint8_t typeByte = 0;  // type in bits 4..0, flags in bits 7..5
    std::vector<unsigned char> payload;
    bool declaresLength = false;  // write declaredLength instead of the payload's size
    uint32_t declaredLength = 0;
};

class BirdWriter {
  public:
    static uint8_t TypeByte(uint8_t type, uint8_t flags) {
        return static_cast<uint8_t>((type & 0x1F) | ((flags & 0x07) << 5));
    }

    // A loader (0) or firmware (1) block: the address, then the image.
    BirdWriterBlock& AddImage(uint8_t type, uint8_t flags, uint32_t address,
                              const std::vector<unsigned char>& image);
    // Any block with the payload exactly as given.
    BirdWriterBlock& AddRaw(uint8_t type, uint8_t flags, const std::vector<unsigned char>& payload);
    // The 64-byte information block; each text is cut to its 16-byte field and padded with blanks.
    BirdWriterBlock& AddInfo(const std::string& build, const std::string& version,
                             const std::string& serial, const std::string& model);
    BirdWriterBlock& AddSerialOffsets(uint32_t wordAddress, uint32_t descriptorAddress);
    BirdWriterBlock& AddRecoveryStart(uint32_t address);

    // A writer that writes a parsed file again: its header, its blocks as they stand in memory
    // (images still scrambled if they were) and its checksum.
    static BirdWriter Of(const BirdFile& file);

    // Scrambles the firmware images for the chip with this fingerprint.
    void Scramble(const unsigned key[4]);
    void SetReportedCount(uint32_t count);
    void SetChecksum(uint32_t checksum);
    // Bytes after the checksum inside the compressed stream.
    void SetTrailing(const std::vector<unsigned char>& bytes) { trailing_ = bytes; }
    void SetHeader(const std::string& signature, uint8_t version0, uint8_t version1);

    // The uncompressed block stream: count, blocks, checksum, trailing bytes.
    std::vector<unsigned char> BlockStream() const;
    // The whole file; empty when compression fails.
    std::vector<unsigned char> FileBytes() const;
    // A whole file around any block stream, well formed or not: the header, then the stream
    // compressed as zlib's compress does it. Empty when compression fails.
    static std::vector<unsigned char> Wrap(const std::vector<unsigned char>& blockStream,
                                           const std::string& signature = "bird",
                                           uint8_t version0 = 0x01, uint8_t version1 = 0x01);
    bool WriteTo(const std::string& path) const;

    // CRC-32 (zlib's) of the block stream up to the checksum field.
    static uint32_t Checksum(const std::vector<unsigned char>& streamWithoutChecksum);
    static void ScrambleImage(unsigned char* image, size_t length, const unsigned key[4]);

  private:
    std::vector<BirdWriterBlock> blocks_;
    bool scrambled_ = false;
    unsigned key_[4] = {0, 0, 0, 0};
    bool countGiven_ = false;
    uint32_t count_ = 0;
    bool checksumGiven_ = false;
    uint32_t checksum_ = 0;
    std::vector<unsigned char> trailing_;
    std::string signature_ = "bird";
    uint8_t version_[2] = {0x01, 0x01};
};
