#include "UpdateOutcome.h"

const char* UpdateResultName(UpdateResult result) {
    switch (result) {
        case UpdateResult::UPDATED:
            return "updated";
        case UpdateResult::UNCHANGED:
            return "unchanged";
        case UpdateResult::FAILED:
            return "failed";
        case UpdateResult::BUSY:
            return "busy";
        case UpdateResult::NO_BUILD:
            return "no_build";
        case UpdateResult::WRONG_MODEL:
            return "wrong_model";
        case UpdateResult::WOULD_UPDATE:
            return "would_update";
        case UpdateResult::CHANGED:
            return "changed";
        case UpdateResult::ERROR:
            return "error";
        case UpdateResult::NONE:
            break;
    }
    return "";
}

namespace {

struct SourceWords {
    BuildSource source;
    const char* name;  // "--json" and the history
    const char* text;  // the dry run's plan
};

constexpr SourceWords kSources[] = {
    {BuildSource::FILE_GIVEN, "file", "the file given"},
    {BuildSource::BUILD_GIVEN, "build", "the build asked for"},
    {BuildSource::SERVER_LATEST, "server_latest", "the server's latest build, in the store"},
    {BuildSource::LATEST_DOWNLOAD, "latest_download", "the store's latest download"},
    {BuildSource::LATEST_TRANSFER, "latest_transfer", "the build last transferred"},
    {BuildSource::RECOVERY_SERVER, "recovery_server", "the build the server names for this chip"},
};

const SourceWords* wordsOf(BuildSource source) {
    for (const SourceWords& words : kSources) {
        if (words.source == source) {
            return &words;
        }
    }
    return nullptr;
}

}  // namespace

const char* BuildSourceName(BuildSource source) {
    const SourceWords* words = wordsOf(source);
    return words != nullptr ? words->name : "";
}

const char* BuildSourceText(BuildSource source) {
    const SourceWords* words = wordsOf(source);
    return words != nullptr ? words->text : "nowhere";
}
