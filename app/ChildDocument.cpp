#include "ChildDocument.h"

#include <sys/wait.h>

#include <sstream>
#include <vector>

using nlohmann::json;

namespace {

// The documents of output, in order; reading stops at anything that is not one (a process
// killed in the middle of printing).
std::vector<json> documentsIn(const std::string& output) {
    std::vector<json> documents;
    std::istringstream stream(output);
    while (!(stream >> std::ws).eof()) {
        json document;
        try {
            stream >> document;
        } catch (const json::exception&) {
            break;
        }
        documents.push_back(std::move(document));
    }
    return documents;
}

// The "error" member's first line: a string, or the first of a list.
std::string firstErrorLine(const json& document) {
    const json error = document.value("error", json());
    if (error.is_string()) {
        return error.get<std::string>();
    }
    if (error.is_array() && !error.empty() && error.front().is_string()) {
        return error.front().get<std::string>();
    }
    return "";
}

unsigned buildIn(const json& document, const char* key) {
    const json value = document.value(key, json());
    return value.is_number_unsigned() ? value.get<unsigned>() : 0;
}

std::string textIn(const json& document, const char* key) {
    const json value = document.value(key, json());
    return value.is_string() ? value.get<std::string>() : "";
}

// No update ran for these, so they have no time of their own.
bool ranAnUpdate(const std::string& result) {
    return result != "unchanged" && result != "busy" && result != "would_update";
}

std::string endedWithout(int waitStatus) {
    if (WIFSIGNALED(waitStatus)) {
        return "Updater ended by signal " + std::to_string(WTERMSIG(waitStatus));
    }
    return "Updater ended without a result (exit status " +
           std::to_string(WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1) + ")";
}

}  // namespace

bool _result_is_success(const std::string& result) {
    return result == "updated" || result == "unchanged" || result == "would_update";
}

ModuleReport _module_report(const ModuleToUpdate& module, const std::string& output,
                            int waitStatus) {
    ModuleReport report;
    report.module = module;
    json update = json::object();
    std::string firstError;
    for (const json& document : documentsIn(output)) {
        if (!document.is_object()) {
            continue;
        }
        if (firstError.empty()) {
            firstError = firstErrorLine(document);
        }
        if (document.value("command", "") == "update") {
            update = document;
        }
    }
    report.result = textIn(update, "result");
    report.error = firstErrorLine(update);
    if (report.error.empty() && !_result_is_success(report.result)) {
        report.error = firstError;
    }
    if (report.result.empty()) {
        report.result = "failed";
        if (report.error.empty()) {
            report.error = endedWithout(waitStatus);
        }
    }
    // Discovery read the model from the module itself; the update's word only stands in for a
    // module discovery could not read.
    if (report.module.model.empty()) {
        report.module.model = textIn(update, "model");
    }
    report.buildBefore = buildIn(update, "build_before");
    if (report.buildBefore == 0) {
        report.buildBefore = module.build;
    }
    report.buildAfter = buildIn(update, "build_after");
    if (report.buildAfter == 0 && report.result == "unchanged") {
        report.buildAfter = report.buildBefore;
    }
    const json seconds = update.value("seconds", json());
    if (seconds.is_number() && ranAnUpdate(report.result)) {
        report.seconds = seconds.get<double>();
    }
    report.plan = update.value("plan", json());
    return report;
}
