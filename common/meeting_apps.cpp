#include "meeting_apps.h"

namespace tevoli {
namespace {

struct MeetingApp {
    std::string_view identifier;
    std::string_view name;
    // Windows match every identifier that starts with this; empty: the identifier alone.
    std::string_view windowPrefix;
};

// Running, only the application itself counts: a vendor's helper running on its own
// is no meeting. A window, though, is part of the call whichever of the vendor's
// applications owns it (a sharing toolbar, another edition), so windows match the
// call applications by prefix. Browsers are matched exactly by both, and all of
// them go by one name.
constexpr MeetingApp kMeetingApps[] = {
    {"us.zoom.xos", "Zoom", "us.zoom."},
    {"com.microsoft.teams2", "Microsoft Teams", "com.microsoft.teams"},
    {"com.microsoft.teams", "Microsoft Teams", "com.microsoft.teams"},
    {"com.cisco.webexmeetingsapp", "Webex", "com.cisco.webex"},
    {"com.google.Chrome", "Browser", {}},
    {"com.google.Chrome.beta", "Browser", {}},
    {"com.apple.Safari", "Browser", {}},
    {"com.microsoft.edgemac", "Browser", {}},
    {"company.thebrowser.Browser", "Browser", {}},
    {"com.brave.Browser", "Browser", {}},
    {"org.mozilla.firefox", "Browser", {}},
};

}  // namespace

std::optional<std::string_view> meetingAppName(std::string_view identifier) {
    for (const MeetingApp& app : kMeetingApps)
        if (identifier == app.identifier) return app.name;
    return std::nullopt;
}

std::optional<std::string_view> meetingWindowLabel(std::string_view identifier) {
    for (const MeetingApp& app : kMeetingApps) {
        const bool match =
            app.windowPrefix.empty() ? identifier == app.identifier : identifier.starts_with(app.windowPrefix);
        if (match) return app.name;
    }
    return std::nullopt;
}

}  // namespace tevoli
