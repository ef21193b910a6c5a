// What one update, recovery or dry run found and did to one module. The operation fills it as
// it goes, so that whatever ends it (a failure at any step, or success) leaves the facts known
// so far: the module's history line, the "--json" document and the update of every module read
// it.
#pragma once

#include <cstdint>
#include <string>

enum class UpdateResult : uint8_t {
    NONE,          // not run, or still running
    UPDATED,       // the module runs the new build
    UNCHANGED,     // the module already ran the chosen build
    FAILED,        // an update or recovery that did not end in success
    BUSY,          // another Updater holds the module
    NO_BUILD,      // no build could be chosen or loaded for the module
    WRONG_MODEL,   // the file was made for another model or module
    WOULD_UPDATE,  // a dry run that found nothing in the way
    CHANGED,       // a download-only run stored a build it did not have
    ERROR,         // a dry run that found something in the way (the error line says what)
};

// The word the history and "--json" use for a result ("" for NONE).
const char* UpdateResultName(UpdateResult result);

// How the chosen build was found.
enum class BuildSource : uint8_t {
    NONE,
    FILE_GIVEN,       // "-f"
    BUILD_GIVEN,      // "-b" (or the build "-G" just stored)
    SERVER_LATEST,    // the server's latest build, found in the store
    LATEST_DOWNLOAD,  // the store's last download
    LATEST_TRANSFER,  // the build last transferred to the module
    RECOVERY_SERVER,  // the build the server names for a chip in recovery
};

// Its word for "--json" and the history ("" for NONE), and its words for people.
const char* BuildSourceName(BuildSource source);
const char* BuildSourceText(BuildSource source);

struct UpdateOutcome {
    unsigned serial = 0;
    std::string link;  // "USB", "TCP", "I2C" (behind a router), "RECOVER"; "" before it is known
    unsigned routerSerial = 0;
    std::string model;         // the model's name as the module reports it, "" when unread
    unsigned buildBefore = 0;  // the build the module ran before, 0 when unknown
    unsigned buildAfter = 0;   // the build it reported after the update, 0 when unknown
    unsigned chosenBuild = 0;  // the file's build (its information block), else the name's
    BuildSource source = BuildSource::NONE;
    std::string file;            // the BIRD file's path
    std::string fileSha256;      // hexadecimal, "" when no file was read
    unsigned blocks = 0;         // loader and firmware blocks of the file
    unsigned long bytes = 0;     // their bytes
    unsigned exchanges = 0;      // request and reply pairs the transfer takes (estimate)
    double roundTripMs = 0;      // measured on the module's link (dry run)
    double estimateSeconds = 0;  // the transfer's estimated time (dry run)
    UpdateResult result = UpdateResult::NONE;
    std::string errorLine;  // the first error line the operation showed
    double seconds = 0;     // how long the operation took
};
