#include "UpdateAllTable.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace {

constexpr size_t COLUMNS = 7;
using Row = std::array<std::string, COLUMNS>;

const Row HEADER = {"Module", "Link", "Router", "Before", "After", "Result", "Time"};
// At least as wide as the entries they usually hold, so that tables of different runs line up:
// serial numbers, "unchanged".
const std::array<size_t, COLUMNS> MINIMUM_WIDTHS = {8, 4, 8, 6, 5, 9, 0};

std::string serialText(unsigned serial) {
    if (serial == 0) {
        return "-";
    }
    char text[12];
    snprintf(text, sizeof text, "%08X", serial);
    return text;
}

std::string buildText(unsigned build) {
    return build == 0 ? "-" : std::to_string(build);
}

std::string timeText(double seconds) {
    if (seconds < 0) {
        return "-";
    }
    char text[32];
    snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

Row rowOf(const ModuleReport& report) {
    return {serialText(report.module.serial),
            report.module.link.empty() ? "-" : report.module.link,
            serialText(report.module.routerSerial),
            buildText(report.buildBefore),
            buildText(report.buildAfter),
            report.result,
            timeText(report.seconds)};
}

std::string lineOf(const Row& row, const std::array<size_t, COLUMNS>& widths) {
    std::string line;
    for (size_t column = 0; column + 1 < COLUMNS; ++column) {
        line += row[column];
        line.append(widths[column] - row[column].size() + 2, ' ');
    }
    return line + row[COLUMNS - 1];
}

}  // namespace

UpdateAllSummary _summarize(const std::vector<ModuleReport>& reports) {
    UpdateAllSummary summary;
    for (const ModuleReport& report : reports) {
        ++summary.modules;
        if (report.result == "updated") {
            ++summary.updated;
        } else if (report.result == "unchanged") {
            ++summary.unchanged;
        } else if (report.result == "busy") {
            ++summary.busy;
        } else if (report.result == "would_update") {
            ++summary.wouldUpdate;
        } else {
            ++summary.failed;
        }
    }
    return summary;
}

std::vector<std::string> _update_all_table(const std::vector<ModuleReport>& reports) {
    std::vector<Row> rows = {HEADER};
    for (const ModuleReport& report : reports) {
        rows.push_back(rowOf(report));
    }
    std::array<size_t, COLUMNS> widths = MINIMUM_WIDTHS;
    for (const Row& row : rows) {
        for (size_t column = 0; column < COLUMNS; ++column) {
            widths[column] = std::max(widths[column], row[column].size());
        }
    }
    std::vector<std::string> lines;
    for (const Row& row : rows) {
        lines.push_back(lineOf(row, widths));
    }
    return lines;
}

std::string _update_all_summary_line(const UpdateAllSummary& summary, bool dryRun) {
    char text[160];
    snprintf(text, sizeof text, "%s %u, unchanged %u, failed %u, busy %u (%u modules)",
             dryRun ? "Would update" : "Updated", dryRun ? summary.wouldUpdate : summary.updated,
             summary.unchanged, summary.failed, summary.busy, summary.modules);
    return text;
}
