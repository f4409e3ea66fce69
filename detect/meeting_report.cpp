#include "meeting_report.h"

#include <algorithm>

#include "json_string.h"
#include "meeting_apps.h"

namespace tevoli::detect {
namespace {

// True when the default input device is a microphone that is being recorded from.
bool micInUse(SystemState& system) {
    const auto device = system.defaultInputDevice();
    return device && device->runningSomewhere && !device->monitor;
}

// Display names of the running meeting applications, each once.
std::vector<std::string> runningMeetingApps(SystemState& system) {
    std::vector<std::string> names;
    for (const auto& identifier : system.runningApplications()) {
        if (!identifier) continue;
        const auto label = meetingAppName(*identifier);
        if (label && std::find(names.begin(), names.end(), *label) == names.end()) names.emplace_back(*label);
    }
    return names;
}

// {"micInUse":<bool>,"apps":[<names>]} and a line feed.
std::string reportLine(bool micInUse, const std::vector<std::string>& apps) {
    std::string line = "{\"micInUse\":";
    line += micInUse ? "true" : "false";
    line += ",\"apps\":[";
    for (std::size_t i = 0; i < apps.size(); ++i) {
        if (i > 0) line += ',';
        line += jsonString(apps[i]);
    }
    line += "]}\n";
    return line;
}

}  // namespace

std::string meetingReport(SystemState& system) {
    const bool mic = micInUse(system);
    return reportLine(mic, runningMeetingApps(system));
}

}  // namespace tevoli::detect
