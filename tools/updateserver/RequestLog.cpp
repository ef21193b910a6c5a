#include "RequestLog.h"

bool RequestLog::open(const std::string& path) {
    if (path.empty()) {
        return true;
    }
    file_ = fopen(path.c_str(), "a");
    return file_ != nullptr;
}

RequestLog::~RequestLog() {
    if (file_ != nullptr) {
        fclose(file_);
    }
}

void RequestLog::record(const std::string& target) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_ != nullptr) {
        fprintf(file_, "%s\n", target.c_str());
        fflush(file_);
    }
}
