#include "KeyValueStore.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "AtomicFileWriter.h"
#include "Log.h"
#include "unix_file.h"

const char* const KeyValueStore::DEFAULT_FILENAME = ".settings";
const char* const KeyValueStore::KEY_CREATED_TIME = "CREATED_TIME";
const char* const KeyValueStore::KEY_UPDATED_TIME = "UPDATED_TIME";

namespace {

const size_t LINE_BUFFER_SIZE = 2048;

bool isBlank(char c) {
    return isspace(static_cast<unsigned char>(c)) != 0;
}

std::string trimmed(const char* begin, const char* end) {
    while (begin < end && isBlank(*begin)) {
        ++begin;
    }
    while (end > begin && isBlank(end[-1])) {
        --end;
    }
    return std::string(begin, end);
}

// Splits one line into key and value; false for a line that holds no entry.
bool splitLine(const char* line, size_t length, std::string& key, std::string& value) {
    if (length < 3 || line[0] == '#') {
        return false;
    }
    const char* end = line + length;
    const char* equals = static_cast<const char*>(memchr(line, '=', length));
    if (equals == nullptr) {
        return false;
    }
    key = trimmed(line, equals);
    value = trimmed(equals + 1, end);
    return true;
}

}  // namespace

std::string KeyValueStore_TimeStamp() {
    time_t now = time(nullptr);
    char text[64] = {0};
    if (ctime_r(&now, text) == nullptr) {
        return std::string();
    }
    std::string stamp(text);
    if (!stamp.empty() && stamp.back() == '\n') {
        stamp.pop_back();
    }
    return stamp;
}

KeyValueStore::KeyValueStore(const char* path) {
    if (path != nullptr) {
        Load(path);
    }
}

void KeyValueStore::Load(const char* path) {
    if (path == nullptr) {
        return;
    }
    qFile* file = qFile_Open(path, qFileModeRead);
    if (file == nullptr) {
        Log::log(DEBUG_Attributes, "Attibutes: Error - cannot open attributes file: '%s' (%d)\n",
                 path, errno);
        Add(KEY_CREATED_TIME, KeyValueStore_TimeStamp());
        Save(path);
    }
    fileName_ = path;
    changed_ = false;
    if (file != nullptr) {
        parse(file);
        qFile_Close(&file);
    }
}

void KeyValueStore::LoadIfPresent(const char* path) {
    qFile* file = path == nullptr ? nullptr : qFile_Open(path, qFileModeRead);
    if (file == nullptr) {
        return;
    }
    fileName_ = path;
    changed_ = false;
    parse(file);
    qFile_Close(&file);
}

void KeyValueStore::parse(qFile* file) {
    char line[LINE_BUFFER_SIZE];
    size_t length = 0;
    std::string key;
    std::string value;
    // A line that fills the buffer ends the reading, so nothing of it is taken half.
    while (qFile_ReadLine(file, line, sizeof line, &length) == qErrNone) {
        if (splitLine(line, length, key, value)) {
            entries_[key] = value;
        }
    }
}

void KeyValueStore::Save(const char* path) {
    if (path != nullptr) {
        fileName_ = path;
    } else if (fileName_.empty()) {
        fileName_ = DEFAULT_FILENAME;
        Log::log(DEBUG_Attributes,
                 "Attibutes: no filename given for attributes, using default:[%s]\n",
                 fileName_.c_str());
    }
    if (changed_) {
        Add(KEY_UPDATED_TIME, KeyValueStore_TimeStamp());
    }
    AtomicFileWriter writer(fileName_);
    if (!writer.Open()) {
        Log::log(DEBUG_Attributes,
                 "Attibutes: Error - cannot open attributes file for writting: '%s' (%d)\n",
                 fileName_.c_str(), errno);
        return;
    }
    std::string text;
    for (const auto& entry : entries_) {
        text += entry.first + "=" + entry.second + "\n";
    }
    if (writer.Write(text.data(), text.size()) != qErrNone || writer.Commit() != qErrNone) {
        Log::log(DEBUG_Attributes, "Attibutes: Error - cannot write attributes file: '%s' (%d)\n",
                 fileName_.c_str(), errno);
        return;
    }
    changed_ = false;
}

const char* KeyValueStore::operator[](const char* key) const {
    if (key == nullptr) {
        return nullptr;
    }
    auto found = entries_.find(key);
    return found == entries_.end() ? nullptr : found->second.c_str();
}

std::string* KeyValueStore::valueWithInsertion(const char* key) {
    if (key == nullptr) {
        return nullptr;
    }
    return &entries_.try_emplace(key).first->second;
}

int KeyValueStore::GetInt(const char* key, int defaultValue) {
    std::string* value = valueWithInsertion(key);
    return value == nullptr || value->empty() ? defaultValue : atoi(value->c_str());
}

unsigned KeyValueStore::GetHex(const char* key, unsigned defaultValue) {
    std::string* value = valueWithInsertion(key);
    if (value == nullptr || value->empty()) {
        return defaultValue;
    }
    return static_cast<unsigned>(strtol(value->c_str(), nullptr, 16));
}

bool KeyValueStore::GetBOOL(const char* key, bool defaultValue) {
    std::string* value = valueWithInsertion(key);
    return value == nullptr || value->empty() ? defaultValue : atoi(value->c_str()) != 0;
}

double KeyValueStore::GetDouble(const char* key, double defaultValue) {
    std::string* value = valueWithInsertion(key);
    return value == nullptr || value->empty() ? defaultValue : atof(value->c_str());
}

std::string KeyValueStore::GetString(const char* key, const char* defaultValue) const {
    const char* value = (*this)[key];
    if (value != nullptr) {
        return value;
    }
    return defaultValue == nullptr ? std::string() : std::string(defaultValue);
}

bool KeyValueStore::Add(const char* key, int value) {
    return Add(key, std::to_string(value));
}

bool KeyValueStore::Add(const char* key, double value) {
    char text[512];
    snprintf(text, sizeof text, "%f", value);
    return Add(key, std::string(text));
}

bool KeyValueStore::Add(const char* key, const char* value) {
    return Add(key, std::string(value == nullptr ? "" : value));
}

bool KeyValueStore::Add(const char* key, const std::string& value) {
    if (key == nullptr) {
        return false;
    }
    std::string& current = entries_[key];
    if (current != value) {
        changed_ = true;
    }
    current = value;
    return true;
}

bool KeyValueStore::AddHex(const char* key, unsigned value) {
    char text[16];
    snprintf(text, sizeof text, "0x%08X", value);
    return Add(key, std::string(text));
}

bool KeyValueStore::Add(const KeyValueStore& other) {
    for (const auto& entry : other.entries_) {
        entries_[entry.first] = entry.second;
        changed_ = true;
    }
    return true;
}

bool KeyValueStore::Clear() {
    entries_.clear();
    changed_ = true;
    return true;
}
