#include "BirdWriter.h"

#include <algorithm>
#include <cstdio>
#include <zlib.h>

#include "BirdFile.h"

namespace {

void appendBigEndian32(std::vector<unsigned char>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<unsigned char>(value >> shift));
    }
}

void appendField(std::vector<unsigned char>& out, const std::string& text) {
    for (size_t i = 0; i < 16; ++i) {
        out.push_back(i < text.size() ? static_cast<unsigned char>(text[i]) : ' ');
    }
}

}  // namespace

BirdWriterBlock& BirdWriter::AddImage(uint8_t type, uint8_t flags, uint32_t address,
                                      const std::vector<unsigned char>& image) {
    std::vector<unsigned char> payload;
    appendBigEndian32(payload, address);
    payload.insert(payload.end(), image.begin(), image.end());
    return AddRaw(type, flags, payload);
}

BirdWriterBlock& BirdWriter::AddRaw(uint8_t type, uint8_t flags,
                                    const std::vector<unsigned char>& payload) {
    BirdWriterBlock block;
    block.typeByte = TypeByte(type, flags);
    block.payload = payload;
    blocks_.push_back(block);
    return blocks_.back();
}

BirdWriterBlock& BirdWriter::AddInfo(const std::string& build, const std::string& version,
                                     const std::string& serial, const std::string& model) {
    std::vector<unsigned char> payload;
    appendField(payload, build);
    appendField(payload, version);
    appendField(payload, serial);
    appendField(payload, model);
    return AddRaw(4, 0, payload);
}

BirdWriterBlock& BirdWriter::AddSerialOffsets(uint32_t wordAddress, uint32_t descriptorAddress) {
    std::vector<unsigned char> payload;
    appendBigEndian32(payload, wordAddress);
    appendBigEndian32(payload, descriptorAddress);
    return AddRaw(2, 0, payload);
}

BirdWriterBlock& BirdWriter::AddRecoveryStart(uint32_t address) {
    std::vector<unsigned char> payload;
    appendBigEndian32(payload, address);
    return AddRaw(5, 0, payload);
}

BirdWriter BirdWriter::Of(const BirdFile& file) {
    BirdWriter writer;
    std::string signature;
    for (int shift = 24; shift >= 0; shift -= 8) {
        signature += static_cast<char>(file.GetSignature() >> shift);
    }
    writer.SetHeader(signature, static_cast<uint8_t>(file.GetFormatVersion() >> 8),
                     static_cast<uint8_t>(file.GetFormatVersion()));
    for (const BirdBlock& block : file.GetBlocks()) {
        writer.AddRaw(block.type, block.flags,
                      std::vector<unsigned char>(block.data, block.data + block.length));
    }
    writer.SetChecksum(file.GetChecksum());
    return writer;
}

void BirdWriter::Scramble(const unsigned key[4]) {
    scrambled_ = true;
    std::copy(key, key + 4, key_);
}

void BirdWriter::SetReportedCount(uint32_t count) {
    countGiven_ = true;
    count_ = count;
}

void BirdWriter::SetChecksum(uint32_t checksum) {
    checksumGiven_ = true;
    checksum_ = checksum;
}

void BirdWriter::SetHeader(const std::string& signature, uint8_t version0, uint8_t version1) {
    signature_ = signature;
    version_[0] = version0;
    version_[1] = version1;
}

// The inverse of the reader's descrambling: cipher = plain ^ key byte ^ previous plain byte.
void BirdWriter::ScrambleImage(unsigned char* image, size_t length, const unsigned key[4]) {
    unsigned char previous = 0;
    for (size_t i = 0; i < length; ++i) {
        unsigned char plain = image[i];
        unsigned char keyByte = static_cast<unsigned char>(key[(i % 16) / 4] >> (24 - 8 * (i % 4)));
        image[i] = plain ^ keyByte ^ previous;
        previous = plain;
    }
}

uint32_t BirdWriter::Checksum(const std::vector<unsigned char>& streamWithoutChecksum) {
    uLong crc = crc32(0L, Z_NULL, 0);
    return static_cast<uint32_t>(
        crc32(crc, streamWithoutChecksum.data(), static_cast<uInt>(streamWithoutChecksum.size())));
}

std::vector<unsigned char> BirdWriter::BlockStream() const {
    std::vector<unsigned char> out;
    appendBigEndian32(out, countGiven_ ? count_ : static_cast<uint32_t>(blocks_.size()));
    for (const BirdWriterBlock& block : blocks_) {
        out.push_back(block.typeByte);
        appendBigEndian32(out, block.declaresLength ? block.declaredLength
                                                    : static_cast<uint32_t>(block.payload.size()));
        size_t start = out.size();
        out.insert(out.end(), block.payload.begin(), block.payload.end());
        bool firmware = (block.typeByte & 0x1F) == 1;
        if (scrambled_ && firmware && block.payload.size() > 4) {
            ScrambleImage(out.data() + start + 4, block.payload.size() - 4, key_);
        }
    }
    appendBigEndian32(out, checksumGiven_ ? checksum_ : Checksum(out));
    out.insert(out.end(), trailing_.begin(), trailing_.end());
    return out;
}

std::vector<unsigned char> BirdWriter::FileBytes() const {
    return Wrap(BlockStream(), signature_, version_[0], version_[1]);
}

std::vector<unsigned char> BirdWriter::Wrap(const std::vector<unsigned char>& blockStream,
                                            const std::string& signature, uint8_t version0,
                                            uint8_t version1) {
    uLongf packedSize = compressBound(static_cast<uLong>(blockStream.size()));
    std::vector<unsigned char> packed(packedSize);
    if (compress(packed.data(), &packedSize, blockStream.data(),
                 static_cast<uLong>(blockStream.size())) != Z_OK) {
        return {};
    }
    std::vector<unsigned char> file(signature.begin(), signature.end());
    file.push_back(version0);
    file.push_back(version1);
    file.insert(file.end(), packed.begin(), packed.begin() + packedSize);
    return file;
}

bool BirdWriter::WriteTo(const std::string& path) const {
    std::vector<unsigned char> bytes = FileBytes();
    if (bytes.empty()) {
        return false;
    }
    FILE* out = fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    bool written = fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return fclose(out) == 0 && written;
}
