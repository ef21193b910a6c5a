#include "BirdDescription.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <vector>

namespace {

// Fill data is for test images, not for exhausting memory.
const unsigned long MAX_FILL_SIZE = 256ul * 1024 * 1024;

struct DescriptionError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Splits a line into words at blanks; double quotes group blanks into a word and are dropped.
std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> result;
    std::string word;
    bool quoted = false;
    bool inWord = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (c == ' ' || c == '\t' || c == '\r')) {
            if (inWord) {
                result.push_back(word);
            }
            word.clear();
            inWord = false;
        } else if (!quoted && c == '#') {
            break;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quoted) {
        throw DescriptionError("unterminated quote");
    }
    if (inWord) {
        result.push_back(word);
    }
    return result;
}

unsigned long number(const std::string& text, unsigned long maximum, const char* what) {
    if (text.empty()) {
        throw DescriptionError(std::string("missing ") + what);
    }
    char* end = nullptr;
    errno = 0;
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    unsigned long value = strtoul(text.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || *end != '\0' || text[0] == '-' || value > maximum) {
        throw DescriptionError(std::string("bad ") + what + " '" + text + "'");
    }
    return value;
}

uint32_t number32(const std::string& text, const char* what) {
    return static_cast<uint32_t>(number(text, 0xFFFFFFFFul, what));
}

std::vector<unsigned char> hexBytes(const std::string& text) {
    std::string digits;
    for (char c : text) {
        if (c != ':' && c != '_') {
            digits += c;
        }
    }
    if (digits.size() % 2 != 0) {
        throw DescriptionError("odd number of hex digits in '" + text + "'");
    }
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i < digits.size(); i += 2) {
        bytes.push_back(
            static_cast<unsigned char>(number("0x" + digits.substr(i, 2), 0xFF, "hex")));
    }
    return bytes;
}

std::string directoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::vector<unsigned char> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw DescriptionError("cannot read data file '" + path + "'");
    }
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
}

// The "key=value" words after the keyword; a bare word maps to the empty text.
std::map<std::string, std::string> options(const std::vector<std::string>& line,
                                           const std::vector<std::string>& allowed) {
    std::map<std::string, std::string> result;
    for (size_t i = 1; i < line.size(); ++i) {
        size_t equals = line[i].find('=');
        std::string key = line[i].substr(0, equals);
        bool known = false;
        for (const auto& name : allowed) {
            known = known || name == key;
        }
        if (!known) {
            throw DescriptionError("unknown option '" + key + "' for " + line[0]);
        }
        result[key] = equals == std::string::npos ? "" : line[i].substr(equals + 1);
    }
    return result;
}

std::string option(const std::map<std::string, std::string>& from, const std::string& key) {
    auto found = from.find(key);
    return found == from.end() ? std::string() : found->second;
}

class DescriptionReader {
  public:
    DescriptionReader(std::string path, BirdWriter& writer)
        : base_(directoryOf(path)), writer_(writer) {}

    void apply(const std::vector<std::string>& line);

  private:
    void block(const std::vector<std::string>& line);
    std::vector<unsigned char> blockData(const std::map<std::string, std::string>& opts);
    void arguments(const std::vector<std::string>& line, size_t count) {
        if (line.size() != count + 1) {
            throw DescriptionError(line[0] + " takes " + std::to_string(count) + " argument(s)");
        }
    }

    std::string base_;
    BirdWriter& writer_;
};

void DescriptionReader::apply(const std::vector<std::string>& line) {
    const std::string& keyword = line[0];
    if (keyword == "block") {
        block(line);
    } else if (keyword == "info") {
        auto opts = options(line, {"build", "version", "serial", "model"});
        writer_.AddInfo(option(opts, "build"), option(opts, "version"), option(opts, "serial"),
                        option(opts, "model"));
    } else if (keyword == "serial-offsets") {
        auto opts = options(line, {"word", "descriptor"});
        writer_.AddSerialOffsets(number32(opts["word"], "word"),
                                 number32(opts["descriptor"], "descriptor"));
    } else if (keyword == "recovery-start") {
        arguments(line, 1);
        writer_.AddRecoveryStart(number32(line[1], "address"));
    } else if (keyword == "scramble") {
        arguments(line, 4);
        unsigned key[4];
        for (int i = 0; i < 4; ++i) {
            key[i] = number32(line[1 + i], "key word");
        }
        writer_.Scramble(key);
    } else if (keyword == "count") {
        arguments(line, 1);
        writer_.SetReportedCount(number32(line[1], "count"));
    } else if (keyword == "checksum") {
        arguments(line, 1);
        writer_.SetChecksum(number32(line[1], "checksum"));
    } else if (keyword == "trailing") {
        arguments(line, 1);
        writer_.SetTrailing(hexBytes(line[1]));
    } else if (keyword == "header") {
        arguments(line, 3);
        writer_.SetHeader(line[1], static_cast<uint8_t>(number(line[2], 0xFF, "version byte")),
                          static_cast<uint8_t>(number(line[3], 0xFF, "version byte")));
    } else {
        throw DescriptionError("unknown keyword '" + keyword + "'");
    }
}

// Bytes that look like a real image to zlib (they do not compress), the same for the same seed.
std::vector<unsigned char> randomBytes(uint32_t seed, size_t size) {
    std::vector<unsigned char> bytes(size);
    uint32_t state = seed != 0 ? seed : 0x9E3779B9u;
    for (unsigned char& byte : bytes) {
        // xorshift32: small, deterministic and good enough to defeat compression.
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<unsigned char>(state >> 24);
    }
    return bytes;
}

// Marks a firmware image with the build it is: the module simulator reports the number that
// follows "ZVBUILD=" in its flash as its build once it restarts into the image.
void stampBuild(std::vector<unsigned char>& data, uint32_t build) {
    static const char marker[] = "ZVBUILD=";
    const size_t markerLength = sizeof marker - 1;
    if (data.size() < markerLength + 4) {
        throw DescriptionError("stamp= needs at least 12 data bytes");
    }
    std::copy(marker, marker + markerLength, data.begin());
    for (size_t i = 0; i < 4; ++i) {
        data[markerLength + i] = static_cast<unsigned char>(build >> (8 * (3 - i)));
    }
}

// Marks a firmware image with its version, after the build stamp's 12 bytes: the module
// simulator reports the major, minor and patch numbers that follow "ZVVERSION=" in its flash as
// its firmware version once it restarts into the image.
void stampVersion(std::vector<unsigned char>& data, const std::string& text) {
    static const char marker[] = "ZVVERSION=";
    const size_t markerLength = sizeof marker - 1;
    const size_t at = 12;
    if (data.size() < at + markerLength + 3) {
        throw DescriptionError("stamp-version= needs at least 25 data bytes");
    }
    std::vector<unsigned char> parts;
    size_t start = 0;
    for (;;) {
        size_t dot = text.find('.', start);
        std::string part = text.substr(start, dot == std::string::npos ? dot : dot - start);
        parts.push_back(static_cast<unsigned char>(number(part, 255, "version part")));
        if (dot == std::string::npos) {
            break;
        }
        start = dot + 1;
    }
    if (parts.size() != 3) {
        throw DescriptionError("stamp-version= needs MAJOR.MINOR.PATCH, not '" + text + "'");
    }
    std::copy(marker, marker + markerLength, data.begin() + at);
    std::copy(parts.begin(), parts.end(), data.begin() + at + markerLength);
}

void DescriptionReader::block(const std::vector<std::string>& line) {
    auto opts = options(line, {"type", "flags", "address", "file", "hex", "fill", "random", "size",
                               "raw", "length", "stamp", "stamp-version"});
    uint8_t type = static_cast<uint8_t>(number(opts["type"], 0x1F, "type"));
    uint8_t flags =
        static_cast<uint8_t>(opts.count("flags") ? number(opts["flags"], 7, "flags") : 0);
    std::vector<unsigned char> data = blockData(opts);
    if (opts.count("stamp")) {
        if (type != 1) {
            throw DescriptionError("stamp= is for firmware blocks (type=1)");
        }
        stampBuild(data, number32(opts["stamp"], "stamp"));
    }
    if (opts.count("stamp-version")) {
        if (type != 1) {
            throw DescriptionError("stamp-version= is for firmware blocks (type=1)");
        }
        stampVersion(data, opts["stamp-version"]);
    }
    bool image = (type == 0 || type == 1) && !opts.count("raw");
    BirdWriterBlock& added =
        image ? writer_.AddImage(type, flags,
                                 opts.count("address") ? number32(opts["address"], "address") : 0,
                                 data)
              : writer_.AddRaw(type, flags, data);
    if (opts.count("length")) {
        added.declaresLength = true;
        added.declaredLength = number32(opts["length"], "length");
    }
}

std::vector<unsigned char> DescriptionReader::blockData(
    const std::map<std::string, std::string>& opts) {
    int sources = int(opts.count("file")) + int(opts.count("hex")) + int(opts.count("fill")) +
                  int(opts.count("random"));
    if (sources > 1) {
        throw DescriptionError("give at most one of file=, hex=, fill= and random=");
    }
    if (opts.count("file")) {
        std::string name = option(opts, "file");
        return fileBytes(!name.empty() && name[0] == '/' ? name : base_ + name);
    }
    if (opts.count("hex")) {
        return hexBytes(option(opts, "hex"));
    }
    if (opts.count("fill")) {
        auto value = static_cast<unsigned char>(number(option(opts, "fill"), 0xFF, "fill"));
        return std::vector<unsigned char>(number(option(opts, "size"), MAX_FILL_SIZE, "size"),
                                          value);
    }
    if (opts.count("random")) {
        return randomBytes(number32(option(opts, "random"), "random"),
                           number(option(opts, "size"), MAX_FILL_SIZE, "size"));
    }
    return {};
}

}  // namespace

bool BirdDescription_Read(const std::string& descriptionPath, BirdWriter& writer,
                          std::string& error) {
    std::ifstream in(descriptionPath);
    if (!in) {
        error = descriptionPath + ": cannot open";
        return false;
    }
    DescriptionReader reader(descriptionPath, writer);
    std::string text;
    for (int lineNumber = 1; std::getline(in, text); ++lineNumber) {
        try {
            std::vector<std::string> line = words(text);
            if (!line.empty()) {
                reader.apply(line);
            }
        } catch (const std::exception& e) {
            error = descriptionPath + ":" + std::to_string(lineNumber) + ": " + e.what();
            return false;
        }
    }
    return true;
}
