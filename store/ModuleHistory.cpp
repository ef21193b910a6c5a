#include "ModuleHistory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

using nlohmann::json;

namespace {

json textOrNull(const std::string& text) {
    return text.empty() ? json(nullptr) : json(text);
}

json numberOrNull(unsigned value) {
    return value == 0 ? json(nullptr) : json(value);
}

json serialOrNull(unsigned serial) {
    if (serial == 0) {
        return nullptr;
    }
    char text[12];
    snprintf(text, sizeof text, "%08X", serial);
    return text;
}

std::string textOf(const json& object, const char* key) {
    auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : "";
}

unsigned numberOf(const json& object, const char* key) {
    auto found = object.find(key);
    return found != object.end() && found->is_number_unsigned() ? found->get<unsigned>() : 0;
}

unsigned serialOf(const json& object, const char* key) {
    const std::string text = textOf(object, key);
    return static_cast<unsigned>(strtoul(text.c_str(), nullptr, 16));
}

// The last byte of the open file, '\n' for an empty one.
char lastByte(int fd, off_t size) {
    char last = '\n';
    if (size > 0 && pread(fd, &last, 1, size - 1) != 1) {
        last = '\n';
    }
    return last;
}

bool writeWhole(int fd, const std::string& text, std::string& failure) {
    ssize_t written;
    do {
        // One write: lines of two Updaters appending at once (one holding the module, one told
        // it is busy) never interleave.
        written = write(fd, text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    if (written < 0) {
        failure = strerror(errno);
        return false;
    }
    if (static_cast<size_t>(written) != text.size()) {
        failure = "only " + std::to_string(written) + " of " + std::to_string(text.size()) +
                  " bytes written";
        return false;
    }
    return true;
}

}  // namespace

json HistoryEntry_Json(const HistoryEntry& entry) {
    return {{"time", entry.time},
            {"host", entry.host},
            {"user", entry.user},
            {"version", entry.version},
            {"command", entry.command},
            {"serial", serialOrNull(entry.serial)},
            {"link_type", textOrNull(entry.link)},
            {"router_serial", serialOrNull(entry.routerSerial)},
            {"model", textOrNull(entry.model)},
            {"build_before", numberOrNull(entry.buildBefore)},
            {"build_after", numberOrNull(entry.buildAfter)},
            {"file", textOrNull(entry.file)},
            {"file_sha256", textOrNull(entry.fileSha256)},
            {"result", entry.result},
            {"error", textOrNull(entry.error)},
            {"seconds", entry.seconds},
            {"message", textOrNull(entry.message)}};
}

HistoryEntry HistoryEntry_FromJson(const json& object) {
    HistoryEntry entry;
    entry.time = textOf(object, "time");
    entry.host = textOf(object, "host");
    entry.user = textOf(object, "user");
    entry.version = textOf(object, "version");
    entry.command = textOf(object, "command");
    entry.serial = serialOf(object, "serial");
    entry.link = textOf(object, "link_type");
    entry.routerSerial = serialOf(object, "router_serial");
    entry.model = textOf(object, "model");
    entry.buildBefore = numberOf(object, "build_before");
    entry.buildAfter = numberOf(object, "build_after");
    entry.file = textOf(object, "file");
    entry.fileSha256 = textOf(object, "file_sha256");
    entry.result = textOf(object, "result");
    entry.error = textOf(object, "error");
    auto seconds = object.find("seconds");
    entry.seconds = seconds != object.end() && seconds->is_number() ? seconds->get<double>() : 0;
    entry.message = textOf(object, "message");
    return entry;
}

bool ModuleHistory_Append(const std::string& path, const HistoryEntry& entry,
                          std::string& failure) {
    // A user's note or a command line need not be UTF-8; JSON text must be.
    std::string line =
        HistoryEntry_Json(entry).dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
    const int fd =
        open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0) {
        failure = "cannot open " + path + ": " + strerror(errno);
        return false;
    }
    struct stat seen;
    bool ok = fstat(fd, &seen) == 0 && S_ISREG(seen.st_mode);
    if (!ok) {
        failure = path + " is not a regular file";
    }
    if (ok && lastByte(fd, seen.st_size) != '\n') {
        line.insert(0, "\n");  // the line a crash cut stays apart from this one
    }
    ok = ok && writeWhole(fd, line, failure);
    if (ok && fsync(fd) != 0) {
        failure = "cannot flush " + path + ": " + strerror(errno);
        ok = false;
    }
    close(fd);
    return ok;
}

HistoryRead ModuleHistory_Read(const std::string& path) {
    HistoryRead read;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) {
            continue;  // left by two appends repairing the same cut line at once
        }
        json object = json::parse(line, nullptr, false);
        if (object.is_object()) {
            read.entries.push_back(HistoryEntry_FromJson(object));
        } else {
            ++read.skipped;
        }
    }
    return read;
}
