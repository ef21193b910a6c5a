// How the simulator reads the numbers, serial numbers and times of its command line.
#pragma once

#include <cstdint>
#include <string>

namespace modulesim {

// Decimal, or hexadecimal with a 0x prefix; the whole text must be the number.
bool parseNumber(const std::string& text, unsigned long long max, unsigned long long& out);

// Up to 8 hexadecimal digits, without a prefix, as a module prints its serial number.
bool parseHexSerial(const std::string& text, uint32_t& out);

// The parsers below name the key or option in error when the text is not what it needs.
bool parseMilliseconds(const std::string& key, const std::string& value, int& out,
                       std::string& error);
bool parseCount(const std::string& key, const std::string& value, uint32_t& out,
                std::string& error);
bool parseBusAddress(const std::string& key, const std::string& value, bool allowZero, uint8_t& out,
                     std::string& error);

// Seconds above 0, at most a week.
bool parseDuration(const std::string& text, double& out);

}  // namespace modulesim
