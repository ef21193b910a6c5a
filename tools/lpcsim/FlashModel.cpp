#include "FlashModel.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace lpcsim {

FlashModel::FlashModel() : bytes_(kFlashSize, 0xFF) {}

bool FlashModel::load(const std::string& path, std::string* why) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        *why = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    size_t got = std::fread(bytes_.data(), 1, bytes_.size(), file);
    bool tooLong = got == bytes_.size() && std::fgetc(file) != EOF;
    std::fclose(file);
    if (tooLong) {
        *why = path + " is larger than the 512 KB flash";
        return false;
    }
    return true;
}

bool FlashModel::save(const std::string& path, std::string* why) const {
    std::string temporary = path + ".tmp." + std::to_string(getpid());
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        *why = "cannot create " + temporary + ": " + std::strerror(errno);
        return false;
    }
    bool written = std::fwrite(bytes_.data(), 1, bytes_.size(), file) == bytes_.size();
    written = std::fflush(file) == 0 && written;
    written = std::fclose(file) == 0 && written;
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        *why = "cannot write " + path + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

void FlashModel::prepare(int first, int last) {
    for (int sector = first; sector <= last; ++sector) {
        prepared_.set(static_cast<size_t>(sector));
    }
}

bool FlashModel::allPrepared(int first, int last) const {
    for (int sector = first; sector <= last; ++sector) {
        if (!prepared_.test(static_cast<size_t>(sector))) {
            return false;
        }
    }
    return true;
}

void FlashModel::erase(int first, int last) {
    uint32_t start = sectorStart(first);
    uint32_t end = sectorStart(last) + sectorSize(last);
    std::memset(bytes_.data() + start, 0xFF, end - start);
    prepared_.reset();
}

void FlashModel::program(uint32_t address, const uint8_t* data, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        bytes_[address + i] &= data[i];
    }
    prepared_.reset();
}

long FlashModel::firstNonBlank(int first, int last) const {
    uint32_t start = sectorStart(first);
    uint32_t end = sectorStart(last) + sectorSize(last);
    for (uint32_t address = start; address < end; ++address) {
        if (bytes_[address] != 0xFF) {
            return static_cast<long>(address - start);
        }
    }
    return -1;
}

}  // namespace lpcsim
