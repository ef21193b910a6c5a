// Helpers of the update server client tests: a running update server simulator over a builds
// directory of fixture BIRD files, the diagnostic log captured, and environment changes undone.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "BackgroundProgram.h"
#include "LogCapture.h"
#include "ScopedEnvironment.h"
#include "TestSupport.h"

namespace servertest {

using zvtest::updateserverBinary;
std::string certificate(const std::string& name);

// Points the diagnostic log at a temporary file, with DEBUG_ServerComm on, while it lives.
class LogCapture : public zvtest::LogCapture {
  public:
    LogCapture() : zvtest::LogCapture(DEBUG_ServerComm) {}
};

using zvtest::ScopedEnvironment;

// A builds directory in the simulator's layout.
class BuildsDirectory {
  public:
    // Writes DIR/<folder>/<build>.bird with one firmware block and an information block; returns
    // the file's bytes.
    std::string addBuild(const std::string& folder, unsigned build, const std::string& version,
                         const std::string& model, const std::string& serial = "");
    // Writes any bytes as DIR/<folder>/<name>.
    void addFile(const std::string& folder, const std::string& name, const std::string& bytes);
    const std::string& path() const { return dir_.path(); }
    std::string file(const std::string& name) const { return dir_.file(name); }

  private:
    zvtest::TempDir dir_;
};

// updateserver on 127.0.0.1, any free port, logging request targets.
class SimulatedServer {
  public:
    SimulatedServer(const BuildsDirectory& builds, const std::vector<std::string>& extraArgs = {});

    bool ready() const { return ready_; }
    // "http://127.0.0.1:PORT/cgi/u" (https with --tls); host replaces 127.0.0.1 when given.
    std::string url(const std::string& host = "") const;
    // The request targets received so far, one per request.
    std::vector<std::string> requests() const;

  private:
    std::string logPath_;
    std::unique_ptr<zvtest::BackgroundProgram> program_;
    bool ready_ = false;
    std::string scheme_;
    std::string address_;
};

// A loopback port on which nobody listens (bound once, then released).
int closedLoopbackPort();

}  // namespace servertest
