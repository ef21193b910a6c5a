// "-k FILE": the diagnostic log written to a file as well, opened in the log file mode ("a+"
// appends to what earlier runs wrote) and closed when the run ends.
#pragma once

#include <cstdio>
#include <string>

class LogFile {
  public:
    LogFile() = default;
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Opens path with mode and hands it to the diagnostic log; false (errno set) when the file
    // cannot be opened, and then the log is left as it was.
    bool Open(const std::string& path, const std::string& mode);

  private:
    FILE* file = nullptr;
};
