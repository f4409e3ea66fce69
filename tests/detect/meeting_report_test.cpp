#include "meeting_report.h"

#include <gtest/gtest.h>

namespace {

class FakeSystem : public tevoli::SystemState {
public:
    std::vector<std::optional<std::string>> apps;
    std::optional<tevoli::InputDevice> defaultInputDevice() override { return tevoli::InputDevice{true, false}; }
    std::vector<std::optional<std::string>> runningApplications() override { return apps; }
};

TEST(MeetingReport, EachDisplayNameOnceWholeCaseSensitiveIdentifiers) {
    FakeSystem system;
    system.apps = {"com.apple.Safari", "com.microsoft.teams", std::nullopt, "US.ZOOM.XOS", "us.zoom.xos.helper",
                   "org.mozilla.firefox", "com.microsoft.teams2", "com.google.chrome", "us.zoom.xos",
                   "com.cisco.webexmeetingsapp", "com.google.Chrome.beta"};
    EXPECT_EQ(tevoli::meetingReport(system),
              "{\"micInUse\":true,\"apps\":[\"Browser\",\"Microsoft Teams\",\"Zoom\",\"Webex\"]}\n");
}

}  // namespace
