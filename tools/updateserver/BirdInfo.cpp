#include "BirdInfo.h"

#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

// Builds are firmware images of small modules; anything far larger is not one.
constexpr size_t kMaxFileBytes = 64u * 1024u * 1024u;
constexpr size_t kMaxStreamBytes = 256u * 1024u * 1024u;
constexpr size_t kHeaderBytes = 6;
constexpr uint8_t kInfoType = 4;
constexpr size_t kFieldBytes = 16;

bool readFile(const std::string& path, std::vector<unsigned char>* bytes) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
    if (size < 0 || static_cast<size_t>(size) > kMaxFileBytes) {
        return false;
    }
    in.seekg(0);
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// The block stream behind the 6-byte header, inflated piece by piece up to a fixed bound.
bool inflateBody(const std::vector<unsigned char>& file, std::vector<unsigned char>* stream) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        return false;
    }
    z.next_in = const_cast<unsigned char*>(file.data() + kHeaderBytes);
    z.avail_in = static_cast<uInt>(file.size() - kHeaderBytes);
    unsigned char piece[16384];
    int result = Z_OK;
    while (result == Z_OK && stream->size() <= kMaxStreamBytes) {
        z.next_out = piece;
        z.avail_out = sizeof piece;
        result = inflate(&z, Z_NO_FLUSH);
        stream->insert(stream->end(), piece, piece + (sizeof piece - z.avail_out));
    }
    inflateEnd(&z);
    return result == Z_STREAM_END;
}

uint32_t bigEndian32(const unsigned char* bytes) {
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
           uint32_t{bytes[3]};
}

std::string field(const unsigned char* bytes) {
    std::string text;
    for (size_t i = 0; i < kFieldBytes && bytes[i] >= 0x20 && bytes[i] < 0x7F; ++i) {
        text += static_cast<char>(bytes[i]);
    }
    size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Walks count, then blocks of type byte, 32-bit length and payload, to the first type-4 block.
bool findInfo(const std::vector<unsigned char>& stream, BirdInfo* info) {
    size_t position = 4;
    while (position + 5 <= stream.size()) {
        uint8_t type = stream[position] & 0x1F;
        uint32_t length = bigEndian32(&stream[position + 1]);
        position += 5;
        if (length > stream.size() - position) {
            return false;
        }
        if (type == kInfoType && length >= 4 * kFieldBytes) {
            const unsigned char* payload = &stream[position];
            *info = {field(payload), field(payload + kFieldBytes), field(payload + 2 * kFieldBytes),
                     field(payload + 3 * kFieldBytes)};
            return true;
        }
        position += length;
    }
    return false;
}

}  // namespace

bool ReadBirdInfo(const std::string& path, BirdInfo* info) {
    std::vector<unsigned char> file;
    if (!readFile(path, &file) || file.size() <= kHeaderBytes ||
        std::string(file.begin(), file.begin() + 4) != "bird") {
        return false;
    }
    std::vector<unsigned char> stream;
    return inflateBody(file, &stream) && findInfo(stream, info);
}
