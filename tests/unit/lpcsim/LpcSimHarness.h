// Runs the LPC17xx ISP ROM simulator beside a test and talks to it through its pseudo-terminal
// with raw bytes, as a serial host would.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "BackgroundProgram.h"
#include "TestSupport.h"
#include "UuencodeOracle.h"

namespace lpctest {

using Bytes = std::vector<uint8_t>;

std::string lpcsimBinary();

// The host end of the line: the pty's slave side in raw mode.
class HostLine {
  public:
    HostLine() = default;
    ~HostLine();
    HostLine(const HostLine&) = delete;
    HostLine& operator=(const HostLine&) = delete;

    bool open(const std::string& path);
    void close();
    void send(const std::string& bytes);
    // Exactly count bytes, or what came before timeoutMs ran out.
    std::string read(size_t count, int timeoutMs = 10000);
    // Everything that arrives until the line stays quiet for quietMs.
    std::string drain(int quietMs = 300);

  private:
    int fd_ = -1;
};

using zvtest::uuDecode;
using zvtest::uuLine;
uint32_t sumOf(const Bytes& bytes, size_t from, size_t to);
Bytes patternBytes(size_t count, uint8_t seed);

class LpcSimTest : public ::testing::Test {
  protected:
    // Starts the simulator with these options (plus a duration and fast erases) and opens its
    // line; false (with a failure added) when it does not come up.
    bool start(std::vector<std::string> options = {});
    // The full synchronisation with echo on, checked byte by byte.
    void synchronise();
    // Sends "text\r\n" and expects exactly `reply` back.
    void expectReply(const std::string& text, const std::string& reply);
    // A command with echo on: its echo, the return code line, then the LF echo.
    void expectCode(const std::string& command, int code);
    // W with echo on: every data line and checksum as the protocol wants them. badBlock (from
    // 1) gets a wrong checksum once, and the block is then sent again.
    void writeRam(uint32_t address, const Bytes& data, int badBlock = 0);
    // R with echo on: reads and acknowledges every block; returns the decoded bytes.
    Bytes readMemory(uint32_t address, uint32_t count);
    std::string stderrText() const;

    zvtest::TempDir dir;
    std::unique_ptr<zvtest::BackgroundProgram> sim;
    HostLine line;
};

}  // namespace lpctest
