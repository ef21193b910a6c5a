#include "FlashModel.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace modulesim {

namespace {

constexpr uint64_t kAddressSpace = uint64_t(1) << 32;
const char kBuildMarker[] = "ZVBUILD=";
const char kVersionMarker[] = "ZVVERSION=";

bool writeAll(int fd, const uint8_t* bytes, size_t count) {
    while (count > 0) {
        ssize_t done = ::write(fd, bytes, count);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            return false;
        }
        bytes += done;
        count -= static_cast<size_t>(done);
    }
    return true;
}

}  // namespace

uint8_t* FlashModel::pageFor(uint32_t pageNumber) {
    Page& page = pages_[pageNumber];
    if (!page) {
        page.reset(new uint8_t[kPageSize]);
        memset(page.get(), kErased, kPageSize);
    }
    return page.get();
}

bool FlashModel::write(uint32_t address, const uint8_t* bytes, size_t count) {
    uint64_t end = uint64_t(address) + count;
    if (end > kAddressSpace) {
        return false;
    }
    if (count == 0) {
        return true;
    }
    uint64_t at = address;
    while (at < end) {
        size_t inPage = static_cast<size_t>(at % kPageSize);
        size_t chunk = static_cast<size_t>(std::min<uint64_t>(kPageSize - inPage, end - at));
        uint8_t* page = pageFor(static_cast<uint32_t>(at / kPageSize));
        memcpy(page + inPage, bytes, chunk);
        bytes += chunk;
        at += chunk;
    }
    lowest_ = written_ ? std::min(lowest_, address) : address;
    end_ = written_ ? std::max(end_, end) : end;
    written_ = true;
    return true;
}

uint8_t FlashModel::byteAt(uint32_t address) const {
    auto page = pages_.find(static_cast<uint32_t>(address / kPageSize));
    return page == pages_.end() ? kErased : page->second[address % kPageSize];
}

bool FlashModel::findBuildStamp(uint32_t& build) const {
    return findStamp(kBuildMarker, 4, build);
}

bool FlashModel::findVersionStamp(uint8_t& major, uint8_t& minor, uint8_t& patch) const {
    uint32_t packed = 0;
    if (!findStamp(kVersionMarker, 3, packed)) {
        return false;
    }
    major = static_cast<uint8_t>(packed >> 16);
    minor = static_cast<uint8_t>(packed >> 8);
    patch = static_cast<uint8_t>(packed);
    return true;
}

bool FlashModel::findStamp(const char* marker, size_t valueBytes, uint32_t& value) const {
    const size_t markerLength = strlen(marker);
    // Erased bytes hold no marker, so only the pages ever written need looking at; a marker may
    // still run on into the next page.
    for (const auto& entry : pages_) {
        const uint8_t* page = entry.second.get();
        uint64_t base = uint64_t(entry.first) * kPageSize;
        for (size_t i = 0; i < kPageSize; ++i) {
            if (page[i] != uint8_t(marker[0]) ||
                base + i + markerLength + valueBytes > kAddressSpace) {
                continue;
            }
            uint32_t at = static_cast<uint32_t>(base + i);
            size_t matched = 1;
            while (matched < markerLength &&
                   byteAt(at + static_cast<uint32_t>(matched)) == uint8_t(marker[matched])) {
                ++matched;
            }
            if (matched < markerLength) {
                continue;
            }
            value = 0;
            for (uint32_t k = 0; k < valueBytes; ++k) {
                value = (value << 8) | byteAt(at + static_cast<uint32_t>(markerLength) + k);
            }
            return true;
        }
    }
    return false;
}

bool FlashModel::saveImage(const std::string& path, std::string& error) const {
    std::vector<char> temporary(path.begin(), path.end());
    const char suffix[] = ".XXXXXX";
    temporary.insert(temporary.end(), suffix, suffix + sizeof suffix);
    int fd = mkstemp(temporary.data());
    if (fd < 0) {
        error = "cannot create a file beside " + path + ": " + strerror(errno);
        return false;
    }
    fchmod(fd, 0644);
    static const std::vector<uint8_t> erased(kPageSize, kErased);
    bool ok = true;
    uint64_t at = written_ ? lowest_ : 0;
    while (ok && at < end_) {
        size_t inPage = static_cast<size_t>(at % kPageSize);
        size_t chunk = static_cast<size_t>(std::min<uint64_t>(kPageSize - inPage, end_ - at));
        auto page = pages_.find(static_cast<uint32_t>(at / kPageSize));
        const uint8_t* source = page == pages_.end() ? erased.data() : page->second.get() + inPage;
        ok = writeAll(fd, source, chunk);
        at += chunk;
    }
    if (!ok) {
        error = "cannot write " + std::string(temporary.data()) + ": " + strerror(errno);
    }
    if (close(fd) != 0 && ok) {
        error = "cannot write " + std::string(temporary.data()) + ": " + strerror(errno);
        ok = false;
    }
    if (ok && rename(temporary.data(), path.c_str()) != 0) {
        error = "cannot rename " + std::string(temporary.data()) + " to " + path + ": " +
                strerror(errno);
        ok = false;
    }
    if (!ok) {
        unlink(temporary.data());
    }
    return ok;
}

}  // namespace modulesim
