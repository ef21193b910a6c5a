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

const char* BuildSourceName(BuildSource source) {
    switch (source) {
        case BuildSource::FILE_GIVEN:
            return "file";
        case BuildSource::BUILD_GIVEN:
            return "build";
        case BuildSource::SERVER_LATEST:
            return "server_latest";
        case BuildSource::LATEST_DOWNLOAD:
            return "latest_download";
        case BuildSource::LATEST_TRANSFER:
            return "latest_transfer";
        case BuildSource::RECOVERY_SERVER:
            return "recovery_server";
        case BuildSource::NONE:
            break;
    }
    return "";
}
