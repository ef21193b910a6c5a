// A program (usually a simulator) running beside a test: started with its arguments, its standard
// output read line by line until it says "ready", stopped with SIGTERM when the object goes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace zvtest {

class BackgroundProgram {
  public:
    // With errorFile, the program's standard error goes to that file (created or truncated).
    BackgroundProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& errorFile = "");
    ~BackgroundProgram();
    BackgroundProgram(const BackgroundProgram&) = delete;
    BackgroundProgram& operator=(const BackgroundProgram&) = delete;

    // Waits up to timeoutMs for the line "ready"; the lines before it are kept.
    bool waitReady(int timeoutMs = 10000);
    const std::vector<std::string>& startupLines() const { return lines_; }
    // The rest of the first start-up line that begins with prefix + " ", or "".
    std::string startupValue(const std::string& prefix) const;
    // Sends SIGTERM and collects the exit status (also done by the destructor); a program still
    // running 15 s later is killed, so its status then tells of SIGKILL.
    int stop();
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int outFd_ = -1;
    std::string pending_;
    std::vector<std::string> lines_;
    int exitStatus_ = -1;
};

}  // namespace zvtest
