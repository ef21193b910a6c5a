#include "ValueText.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace modulesim {

namespace {

constexpr int kMaxMilliseconds = 600000;
constexpr double kMaxDurationSeconds = 7 * 24 * 3600;

}  // namespace

bool parseNumber(const std::string& text, unsigned long long max, unsigned long long& out) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || isspace((unsigned char)text[0])) {
        return false;
    }
    int base = 10;
    const char* start = text.c_str();
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        start += 2;
    }
    errno = 0;
    char* end = nullptr;
    unsigned long long value = strtoull(start, &end, base);
    if (errno != 0 || end == start || *end != '\0' || value > max) {
        return false;
    }
    out = value;
    return true;
}

bool parseHexSerial(const std::string& text, uint32_t& out) {
    if (text.empty() || text.size() > 8) {
        return false;
    }
    for (char c : text) {
        if (!isxdigit((unsigned char)c)) {
            return false;
        }
    }
    out = static_cast<uint32_t>(strtoul(text.c_str(), nullptr, 16));
    return true;
}

bool parseMilliseconds(const std::string& key, const std::string& value, int& out,
                       std::string& error) {
    unsigned long long number = 0;
    if (!parseNumber(value, kMaxMilliseconds, number)) {
        error = key + " needs milliseconds from 0 to " + std::to_string(kMaxMilliseconds);
        return false;
    }
    out = static_cast<int>(number);
    return true;
}

bool parseCount(const std::string& key, const std::string& value, uint32_t& out,
                std::string& error) {
    unsigned long long number = 0;
    if (!parseNumber(value, 0xFFFFFFFFull, number)) {
        error = key + " needs a count";
        return false;
    }
    out = static_cast<uint32_t>(number);
    return true;
}

bool parseBusAddress(const std::string& key, const std::string& value, bool allowZero, uint8_t& out,
                     std::string& error) {
    unsigned long long number = 0;
    if (!parseNumber(value, 254, number) || (number & 1) != 0 || (number == 0 && !allowZero)) {
        error = key + " needs an even address from " + (allowZero ? "0" : "2") + " to 254";
        return false;
    }
    out = static_cast<uint8_t>(number);
    return true;
}

bool parseDuration(const std::string& text, double& out) {
    errno = 0;
    char* end = nullptr;
    double value = strtod(text.c_str(), &end);
    if (text.empty() || errno != 0 || *end != '\0' || !std::isfinite(value) || value <= 0 ||
        value > kMaxDurationSeconds) {
        return false;
    }
    out = value;
    return true;
}

}  // namespace modulesim
