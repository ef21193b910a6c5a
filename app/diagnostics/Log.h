// Diagnostic log: formatted lines written to one stream when a "-X" debug bit selects them.
#pragma once

#include <cstdint>
#include <cstdio>

enum DebugBits : uint32_t {
    DEBUG_Updater = 0x00000001,
    DEBUG_History = 0x00000002,
    DEBUG_Attributes = 0x00000004,
    DEBUG_BirdFile = 0x00000008,
    DEBUG_Network_Reserved = 0x00000010,  // listed as "DEBUG_Network" in the usage text
    DEBUG_ServerComm = 0x00000020,
    DEBUG_Network = 0x00000100,
    DEBUG_Network_SR = 0x00000200,
    DEBUG_Network_FIRM = 0x00000400,
    DEBUG_NXPSerial = 0x00001000,
    DEBUG_NXPSerial_E = 0x00002000,
    DEBUG_NXPSerial_SR = 0x00004000,
    DEBUG_APP = 0x00010000,
    DEBUG_iMXSerial = 0x10000000,
};

class Log {
  public:
    Log() {}
    ~Log() {}

    // Writes when mask is 0 or shares a bit with the enabled mask; formats carry their own
    // newlines. Text past 2047 bytes is cut.
    static void log(uint32_t mask, const char* format, ...) __attribute__((format(printf, 2, 3)));
    static void SetOutput(FILE* output);
    // A second stream that receives every line the first one does ("-k"); null stops it. The
    // caller keeps ownership and must clear it before closing the stream.
    static void SetFileOutput(FILE* output);
    static void ActivatePackage(uint32_t bits);
    static void DeactivatePackage(uint32_t bits);
    static uint32_t EnabledPackages() { return package_bitmask; }

  private:
    // Hands one formatted text to every stream set.
    static void write(const char* text);

    static uint32_t package_bitmask;
    static FILE* fh;
    static FILE* file_fh;
};
