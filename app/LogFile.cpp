#include "LogFile.h"

#include "Log.h"

void LogFile::DetachAndClose::operator()(FILE* file) const {
    Log::SetFileOutput(nullptr);
    fclose(file);
}

bool LogFile::Open(const std::string& path, const std::string& mode) {
    FILE* opened = fopen(path.c_str(), mode.c_str());
    if (opened == nullptr) {
        return false;
    }
    file.reset(opened);
    Log::SetFileOutput(file.get());
    return true;
}
