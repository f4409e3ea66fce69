#include "meeting_apps.h"

#include <gtest/gtest.h>

namespace tevoli {
namespace {

TEST(MeetingApps, RunningApplicationsMatchExactlyWindowsOfCallAppsByPrefix) {
    const struct {
        const char* identifier;
        std::optional<std::string_view> appName, windowLabel;
    } cases[] = {
        {"us.zoom.xos", "Zoom", "Zoom"},
        {"us.zoom.CptHost", {}, "Zoom"},
        {"us.zoom", {}, {}},
        {"US.ZOOM.xos", {}, {}},
        {"com.microsoft.teams2", "Microsoft Teams", "Microsoft Teams"},
        {"com.cisco.webex.x", {}, "Webex"},
        {"com.google.Chrome.beta", "Browser", "Browser"},
        {"com.google.Chrome.canary", {}, {}},
        {"org.mozilla.firefox", "Browser", "Browser"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(meetingAppName(c.identifier), c.appName) << c.identifier;
        EXPECT_EQ(meetingWindowLabel(c.identifier), c.windowLabel) << c.identifier;
    }
}

}  // namespace
}  // namespace tevoli
