#include "JsonUpdateAll.h"

#include <nlohmann/json.hpp>

#include "JsonOutput.h"
#include "UpdateAllTable.h"

using nlohmann::json;

namespace {

json buildOrNull(unsigned build) {
    return build == 0 ? json(nullptr) : json(build);
}

json moduleObject(const ModuleReport& report, bool dryRun) {
    const ModuleToUpdate& module = report.module;
    json object = {
        {"serial", _json_hex_word(module.serial)},
        {"link_type", module.link},
        {"router_serial",
         module.routerSerial == 0 ? json(nullptr) : json(_json_hex_word(module.routerSerial))},
        {"model", module.model.empty() ? json(nullptr) : json(module.model)},
        {"build_before", buildOrNull(report.buildBefore)},
        {"build_after", buildOrNull(report.buildAfter)},
        {"result", report.result},
        {"error", report.error.empty() ? json(nullptr) : json(report.error)},
        {"seconds", report.seconds < 0 ? json(nullptr) : json(report.seconds)},
    };
    if (dryRun && report.plan.is_object()) {
        object["plan"] = report.plan;
    }
    return object;
}

}  // namespace

json _json_update_all(const std::vector<ModuleReport>& reports, bool dryRun) {
    json modules = json::array();
    bool changed = false;
    for (const ModuleReport& report : reports) {
        modules.push_back(moduleObject(report, dryRun));
        changed = changed || report.result == "updated";
    }
    const UpdateAllSummary summary = _summarize(reports);
    return {
        {"command", "update_all"},
        {"schema_version", 1},
        {"dry_run", dryRun},
        {"changed", changed},
        {"modules", modules},
        {"summary",
         {{"updated", summary.updated},
          {"unchanged", summary.unchanged},
          {"failed", summary.failed},
          {"busy", summary.busy},
          {"would_update", summary.wouldUpdate},
          {"modules", summary.modules}}},
    };
}
