#include "RecoveryTable.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

bool hexWord(const std::string& text, uint32_t* value) {
    if (text.empty() || text.size() > 8 ||
        text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return false;
    }
    *value = static_cast<uint32_t>(strtoul(text.c_str(), nullptr, 16));
    return true;
}

bool parseEntry(const std::string& line, std::array<uint32_t, 4>* words, RecoveryEntry* entry) {
    std::istringstream fields(line.substr(0, line.find('#')));
    std::string word[6];
    for (std::string& field : word) {
        if (!(fields >> field)) {
            return false;
        }
    }
    for (size_t i = 0; i < 4; ++i) {
        if (!hexWord(word[i], &(*words)[i])) {
            return false;
        }
    }
    if (!hexWord(word[4], &entry->serial) || word[5].size() > 9 ||
        word[5].find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    entry->build = strtoul(word[5].c_str(), nullptr, 10);
    return true;
}

}  // namespace

bool ParseFingerprint(const std::string& text, std::array<uint32_t, 4>* words) {
    std::istringstream fields(text);
    std::string word;
    size_t count = 0;
    while (fields >> word) {
        if (count == 4 || !hexWord(word, &(*words)[count])) {
            return false;
        }
        ++count;
    }
    return count == 4;
}

bool FindRecovery(const std::string& tablePath, const std::array<uint32_t, 4>& words,
                  RecoveryEntry* entry) {
    std::ifstream table(tablePath);
    std::string line;
    while (std::getline(table, line)) {
        std::array<uint32_t, 4> chip{};
        RecoveryEntry candidate;
        if (parseEntry(line, &chip, &candidate) && chip == words) {
            *entry = candidate;
            return true;
        }
    }
    return false;
}
