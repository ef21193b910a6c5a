// Text forms of the bytes exchanged with the ISP bootloader, for the diagnostic log.
#pragma once

#include <cstddef>
#include <string>

// "3F 0D 0A" for the bytes "?\r\n".
std::string nxpHexText(const void* bytes, size_t length);
// The bytes as characters, with "\r" and "\n" spelled out and other control bytes as ".".
std::string nxpPrintableText(const void* bytes, size_t length);
std::string nxpPrintableText(const char* text);
