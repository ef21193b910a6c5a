// Appends each request target ("/cgi/u?..." exactly as received) as one line, flushed at once,
// so that a test can compare the URLs a client sent.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

class RequestLog {
  public:
    // An empty path logs nothing; false when the file cannot be opened.
    bool open(const std::string& path);
    ~RequestLog();

    void record(const std::string& target);

  private:
    std::mutex mutex_;
    FILE* file_ = nullptr;
};
