// The history of one module: every update and recovery attempt made on it, one JSON object a
// line (JSON Lines) in the file ".history" of the module's store directory. The file is only
// ever appended to, one whole line per write(), so that a crash cuts at most the line being
// written; a reader skips what does not parse, and the next append starts on a fresh line.
// The leading dot keeps it out of the store's build listings.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

constexpr const char* HISTORY_FILE_NAME = ".history";

// One attempt. Strings are "" and numbers 0 where the attempt did not learn the value; the
// line holds null for them.
struct HistoryEntry {
    std::string time;     // when the attempt ended, UTC, ISO 8601 ("2026-12-10T18:26:32Z")
    std::string host;     // the machine the Updater ran on
    std::string user;     // its real user's name
    std::string version;  // the Updater's version
    std::string command;  // its command line
    unsigned serial = 0;
    std::string link;  // "USB", "TCP", "I2C" (behind a router), "RECOVER"
    unsigned routerSerial = 0;
    std::string model;
    unsigned buildBefore = 0;
    unsigned buildAfter = 0;
    std::string file;        // the BIRD file's path
    std::string fileSha256;  // its SHA-256, hexadecimal
    std::string result;      // "updated", "failed", ... as "--json" names results
    std::string error;       // the first error line the attempt showed
    double seconds = 0;
    std::string message;  // the user's note ("-l")
};

// The entry as its line holds it (and as "--json" shows it).
nlohmann::json HistoryEntry_Json(const HistoryEntry& entry);
// Whatever of entry's members object holds with the right type; the rest stays empty.
HistoryEntry HistoryEntry_FromJson(const nlohmann::json& object);

// Appends entry as one line to the history file at path, made (mode 0600: it names users, hosts
// and their notes) when missing, and flushes it to disk. A file whose last line was cut short
// gets a line break first. Never truncates or rewrites what is there. False with the reason in
// failure when the line could not be written whole.
bool ModuleHistory_Append(const std::string& path, const HistoryEntry& entry, std::string& failure);

struct HistoryRead {
    std::vector<HistoryEntry> entries;  // oldest first
    unsigned skipped = 0;               // lines that are not a JSON object (cut or damaged)
};

// Every readable entry of the history file at path; none when there is no file.
HistoryRead ModuleHistory_Read(const std::string& path);
