// Table-driven reader of command-line options: exact, case-sensitive matches, no clumping, the
// argument of an option is always the next word.
#pragma once

#include <cstddef>

struct OptionEntry {
    int id;
    const char* text;
    bool takesArgument;
};

struct ParsedOption {
    enum Kind { MATCHED, UNKNOWN, MISSING_ARGUMENT } kind;
    const OptionEntry* entry;  // null for UNKNOWN
    const char* word;
    const char* argument;  // null unless the entry takes one and it was there
};

class OptionParser {
  public:
    OptionParser(const OptionEntry* table, size_t count, int argc, char** argv)
        : table(table), count(count), argc(argc), argv(argv) {}

    // The next word (the first is the program name and is skipped); false when none are left.
    bool next(ParsedOption* out);

  private:
    const OptionEntry* find(const char* word) const;

    const OptionEntry* table;
    size_t count;
    int argc;
    char** argv;
    int position = 1;
};
