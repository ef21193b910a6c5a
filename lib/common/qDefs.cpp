#include "qDefs.h"

namespace {

struct ModelName {
    uint8_t model;
    const char* name;
};

constexpr ModelName kModels[] = {
    {3, "Hub-4"},       {4, "Hub-8"},       {5, "Router"},      {6, "Motor-2"},   {7, "Motor-4"},
    {8, "Servo-8"},     {9, "Analog-8"},    {10, "Digital-16"}, {11, "Serial-2"}, {12, "Power-Hub"},
    {13, "Ethernet"},   {14, "Sensor-IO"},  {15, "Encoder-4"},  {16, "Display"},  {17, "Battery"},
    {18, "Radio-Link"}, {19, "Controller"},
};

}  // namespace

const char* qDefs_GetModelName(uint8_t model) {
    for (const ModelName& entry : kModels) {
        if (entry.model == model) {
            return entry.name;
        }
    }
    return "Unknown";
}
