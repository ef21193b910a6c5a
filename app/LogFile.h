// "-k FILE": the diagnostic log written to a file as well, opened in the log file mode ("a+"
// appends to what earlier runs wrote) and closed when the run ends.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

class LogFile {
  public:
    // Opens path with mode and hands it to the diagnostic log; false (errno set) when the file
    // cannot be opened, and then the log is left as it was.
    bool Open(const std::string& path, const std::string& mode);

  private:
    // The log stops writing to the file before it is closed.
    struct DetachAndClose {
        void operator()(FILE* file) const;
    };

    std::unique_ptr<FILE, DetachAndClose> file;
};
