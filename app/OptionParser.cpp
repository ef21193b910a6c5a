#include "OptionParser.h"

#include <cstring>

const OptionEntry* OptionParser::find(const char* word) const {
    for (size_t i = 0; i < count; ++i) {
        if (strcmp(table[i].text, word) == 0) {
            return &table[i];
        }
    }
    return nullptr;
}

bool OptionParser::next(ParsedOption* out) {
    if (position >= argc) {
        return false;
    }
    const char* word = argv[position++];
    const OptionEntry* entry = find(word);
    *out = ParsedOption{ParsedOption::UNKNOWN, entry, word, nullptr};
    if (entry == nullptr) {
        return true;
    }
    if (!entry->takesArgument) {
        out->kind = ParsedOption::MATCHED;
        return true;
    }
    if (position >= argc) {
        out->kind = ParsedOption::MISSING_ARGUMENT;
        return true;
    }
    out->argument = argv[position++];
    out->kind = ParsedOption::MATCHED;
    return true;
}
