#include "inventory.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <string_view>

#include "json_string.h"
#include "meeting_apps.h"

#ifndef TEVOLI_HOST_BUNDLE_ID
#error "TEVOLI_HOST_BUNDLE_ID must name the host application's identifier"
#endif

namespace tevoli::window {
namespace {

constexpr std::array<std::string_view, 12> kJunkPrefixes{
    "com.apple.appkit.xpc.",   "com.apple.SafariPlatformSupport", "com.apple.WindowManager",
    "com.apple.loginwindow",   "com.apple.Spotlight",             "com.apple.dock",
    "com.apple.controlcenter", "com.apple.notificationcenterui",  "com.apple.wallpaper",
    "com.apple.systemuiserver", "com.apple.coreautha",            "com.apple.ScreenSaver",
};

constexpr std::array<std::string_view, 10> kExcludedOwners{
    "Tevoli",    "Window Server", "Dock",      "Control Center", "Notification Center",
    "Spotlight", "WindowManager", "Wallpaper", "SystemUIServer", "coreautha",
};

// Sizes are reported truncated toward zero.
long long points(double value) { return static_cast<long long>(std::trunc(value)); }

std::optional<std::string_view> meetingLabel(const std::optional<std::string>& bundleId) {
    return bundleId ? meetingWindowLabel(*bundleId) : std::nullopt;
}

bool isJunkBundle(const std::optional<std::string>& bundleId) {
    if (!bundleId || *bundleId == TEVOLI_HOST_BUNDLE_ID) return true;
    for (std::string_view prefix : kJunkPrefixes) {
        if (bundleId->starts_with(prefix)) return true;
    }
    return false;
}

// The JSON object of one window, keys in wire order.
std::string entry(std::uint32_t id, const std::string& app, const std::string& title, long long width,
                  long long height, bool meeting) {
    return "{\"id\":" + std::to_string(id) + ",\"app\":" + jsonString(app, JsonStringForm::window) +
           ",\"title\":" + jsonString(title, JsonStringForm::window) + ",\"width\":" + std::to_string(width) +
           ",\"height\":" + std::to_string(height) + ",\"meeting\":" + (meeting ? "true" : "false") + "}";
}

}  // namespace

std::vector<std::string> sckEntries(const std::vector<ShareableWindow>& content, bool listAll) {
    std::vector<std::string> entries;
    for (const ShareableWindow& window : content) {
        if (window.layer != 0) continue;
        const long long width = points(window.width);
        const long long height = points(window.height);
        const std::optional<std::string_view> label = meetingLabel(window.bundleId);
        if (label) {
            if (listAll && isJunkBundle(window.bundleId)) continue;
            if (width < 400 || height < 300) continue;
        } else {
            if (!listAll || isJunkBundle(window.bundleId)) continue;
            if (width < 200 || height < 200) continue;
        }
        const std::string title = window.title.value_or("");
        if (!window.onScreen && title.empty() && (width < 900 || height < 600)) continue;
        std::string app = label ? std::string(*label) : window.appName;
        if (app.empty()) app = "App";
        entries.push_back(entry(window.id, app, title, width, height, label.has_value()));
    }
    return entries;
}

std::vector<std::string> legacyEntries(const std::vector<ServerWindow>& windows,
                                       const std::vector<RunningApplication>& running, bool listAll) {
    std::map<std::int32_t, std::string_view> meetingProcesses;
    for (const RunningApplication& app : running) {
        if (auto label = meetingLabel(app.bundleId)) meetingProcesses[app.pid] = *label;
    }
    std::vector<std::string> entries;
    for (const ServerWindow& window : windows) {
        if (!window.ownerPid || window.layer != 0) continue;
        const auto meeting = meetingProcesses.find(*window.ownerPid);
        const bool isMeeting = meeting != meetingProcesses.end();
        const bool excludedOwner =
            std::find(kExcludedOwners.begin(), kExcludedOwners.end(), window.ownerName) != kExcludedOwners.end();
        if (isMeeting) {
            if (listAll && excludedOwner) continue;
            if (window.width < 400 || window.height < 300) continue;
        } else {
            if (!listAll || excludedOwner) continue;
            if (window.width < 200 || window.height < 200) continue;
        }
        std::string app = isMeeting ? std::string(meeting->second) : window.ownerName;
        if (app.empty()) app = "App";
        entries.push_back(entry(window.number, app, window.name, points(window.width), points(window.height), isMeeting));
    }
    return entries;
}

std::string listingLine(const std::vector<std::string>& entries) {
    std::string line = "{\"windows\":[";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0) line += ',';
        line += entries[i];
    }
    line += "]}\n";
    return line;
}

}  // namespace tevoli::window
