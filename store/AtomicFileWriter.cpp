#include "AtomicFileWriter.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace {

std::atomic<unsigned> temporaryCounter{0};

// ".NAME.tmp-PID-N" beside the target: the leading dot keeps it out of build listings.
std::string temporaryNameFor(const std::string& target) {
    size_t slash = target.rfind('/');
    std::string directory =
        slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    return directory + "." + name + ".tmp-" + std::to_string(getpid()) + "-" +
           std::to_string(temporaryCounter.fetch_add(1));
}

// Temporaries of this target left by a process that no longer exists (killed mid-write) are
// removed, so that they do not pile up beside the file; a live writer's temporary is kept.
void removeAbandonedTemporaries(const std::string& target) {
    size_t slash = target.rfind('/');
    std::string directory = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    std::string prefix =
        "." + (slash == std::string::npos ? target : target.substr(slash + 1)) + ".tmp-";
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr) {
        return;
    }
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0) {
            continue;
        }
        long pid = strtol(name.c_str() + prefix.size(), nullptr, 10);
        if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            unlink((slash == std::string::npos ? name : directory + name).c_str());
        }
    }
    closedir(dir);
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(std::string target) : target_(std::move(target)) {}

AtomicFileWriter::~AtomicFileWriter() {
    Discard();
}

bool AtomicFileWriter::Open() {
    Discard();
    removeAbandonedTemporaries(target_);
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporary_ = temporaryNameFor(target_);
        // 0666 lets the umask decide, as a plain create of the target would.
        int fd = open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            temporary_.clear();
            return false;
        }
        file_ = fdopen(fd, "wb");
        if (file_ == nullptr) {
            int saved = errno;
            close(fd);
            unlink(temporary_.c_str());
            temporary_.clear();
            errno = saved;
            return false;
        }
        return true;
    }
    temporary_.clear();
    errno = EEXIST;
    return false;
}

qErr AtomicFileWriter::Write(const void* bytes, size_t length) {
    if (file_ == nullptr || (bytes == nullptr && length > 0)) {
        return qErrParam;
    }
    size_t put = length == 0 ? 0 : fwrite(bytes, 1, length, file_);
    if (put == length) {
        return qErrNone;
    }
    return put == 0 ? qErrIO : qErrWrite;
}

qErr AtomicFileWriter::Commit() {
    if (file_ == nullptr) {
        return qErrParam;
    }
    bool flushed = fflush(file_) == 0 && fsync(fileno(file_)) == 0;
    bool closed = fclose(file_) == 0;
    file_ = nullptr;
    if (!flushed || !closed || rename(temporary_.c_str(), target_.c_str()) != 0) {
        Discard();
        return qErrIO;
    }
    temporary_.clear();
    return qErrNone;
}

void AtomicFileWriter::Discard() {
    if (file_ != nullptr) {
        fclose(file_);
        file_ = nullptr;
    }
    if (!temporary_.empty()) {
        unlink(temporary_.c_str());
        temporary_.clear();
    }
}
