// "-a": one module of the run, as discovery found it, and what its update ended in.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

struct ModuleToUpdate {
    unsigned serial = 0;
    std::string link;           // "USB", "TCP", or "I2C" behind a router
    unsigned routerSerial = 0;  // the router it sits behind, 0 when reached directly
    std::string model;          // the model's name, "" when it could not be read
    unsigned build = 0;         // the build discovery read, 0 when unknown
    // A router with modules behind it: updated after them, since their updates run through it.
    bool carriesOthers = false;
};

struct ModuleReport {
    ModuleToUpdate module;
    std::string result;        // the result word of the "-U" document ("updated", "busy", ...)
    unsigned buildBefore = 0;  // 0 when unknown
    unsigned buildAfter = 0;
    std::string error;    // the first error line, "" when none
    double seconds = -1;  // how long its update took; below 0 when none ran
    nlohmann::json plan;  // a dry run's plan, null otherwise
};
