#include "BuildNumber.h"

#include <stdexcept>

#include "Log.h"

unsigned _build_number_from_text(const std::string& text) {
    try {
        return static_cast<unsigned>(std::stoul(text, nullptr, 10));
    } catch (const std::exception&) {
        Log::log(DEBUG_Updater, "Error: Could not convert %s to int.\n", text.c_str());
        return 0;
    }
}
