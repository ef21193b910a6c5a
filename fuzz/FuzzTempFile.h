// A private temporary file holding one fuzz input, removed when the object goes.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

class FuzzTempFile {
  public:
    FuzzTempFile(const uint8_t* data, size_t size) {
        const char* base = getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/zvfuzz.XXXXXX";
        path_.assign(pattern.begin(), pattern.end());
        int fd = mkstemp(&path_[0]);
        if (fd < 0) {
            path_.clear();
            return;
        }
        size_t done = 0;
        while (done < size) {
            ssize_t n = write(fd, data + done, size - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<size_t>(n);
        }
        close(fd);
    }
    ~FuzzTempFile() {
        if (!path_.empty()) {
            unlink(path_.c_str());
        }
    }
    FuzzTempFile(const FuzzTempFile&) = delete;
    FuzzTempFile& operator=(const FuzzTempFile&) = delete;

    bool ok() const { return !path_.empty(); }
    const char* path() const { return path_.c_str(); }

  private:
    std::string path_;
};
