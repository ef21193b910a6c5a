#include "JsonReport.h"

#include <nlohmann/json.hpp>

#include "CLI_Display.h"
#include "JsonOutput.h"

using nlohmann::json;

json _json_error_lines(const std::vector<std::string>& lines) {
    if (lines.empty()) {
        return nullptr;
    }
    if (lines.size() == 1) {
        return lines.front();
    }
    return lines;
}

void JsonReport::print(json document) {
    if (enabled) {
        write(document, display.take_error_lines());
    }
}

void JsonReport::finish() {
    if (!enabled) {
        return;
    }
    std::vector<std::string> errors = display.take_error_lines();
    if (!printedAny || !errors.empty()) {
        write(json::object(), errors);
    }
}

void JsonReport::write(json document, const std::vector<std::string>& errors) {
    if (!errors.empty()) {
        document["error"] = _json_error_lines(errors);
    }
    _print_json(document);
    printedAny = true;
}
