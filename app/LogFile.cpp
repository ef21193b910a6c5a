#include "LogFile.h"

#include "Log.h"

LogFile::~LogFile() {
    if (file != nullptr) {
        Log::SetFileOutput(nullptr);
        fclose(file);
    }
}

bool LogFile::Open(const std::string& path, const std::string& mode) {
    FILE* opened = fopen(path.c_str(), mode.c_str());
    if (opened == nullptr) {
        return false;
    }
    if (file != nullptr) {
        Log::SetFileOutput(nullptr);
        fclose(file);
    }
    file = opened;
    Log::SetFileOutput(file);
    return true;
}
