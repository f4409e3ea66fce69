#include "meeting_report.h"

#include <algorithm>
#include <array>

#include "json_string.h"

namespace tevoli {
namespace {

struct MeetingApp {
    std::string_view bundleIdentifier;
    std::string_view displayName;
};

// Every browser is reported under one name.
constexpr std::array kMeetingApps{
    MeetingApp{"us.zoom.xos", "Zoom"},
    MeetingApp{"com.microsoft.teams2", "Microsoft Teams"},
    MeetingApp{"com.microsoft.teams", "Microsoft Teams"},
    MeetingApp{"com.cisco.webexmeetingsapp", "Webex"},
    MeetingApp{"com.google.Chrome", "Browser"},
    MeetingApp{"com.google.Chrome.beta", "Browser"},
    MeetingApp{"com.apple.Safari", "Browser"},
    MeetingApp{"com.microsoft.edgemac", "Browser"},
    MeetingApp{"company.thebrowser.Browser", "Browser"},
    MeetingApp{"com.brave.Browser", "Browser"},
    MeetingApp{"org.mozilla.firefox", "Browser"},
};

}  // namespace

std::optional<std::string_view> meetingLabel(std::string_view bundleIdentifier) {
    for (const auto& app : kMeetingApps)
        if (app.bundleIdentifier == bundleIdentifier) return app.displayName;
    return std::nullopt;
}

bool micInUse(SystemState& system) {
    const auto device = system.defaultInputDevice();
    return device && device->runningSomewhere && !device->monitor;
}

std::vector<std::string> runningMeetingApps(SystemState& system) {
    std::vector<std::string> names;
    for (const auto& identifier : system.runningApplications()) {
        if (!identifier) continue;
        const auto label = meetingLabel(*identifier);
        if (label && std::find(names.begin(), names.end(), *label) == names.end()) names.emplace_back(*label);
    }
    return names;
}

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

std::string meetingReport(SystemState& system) {
    const bool mic = micInUse(system);
    return reportLine(mic, runningMeetingApps(system));
}

}  // namespace tevoli
