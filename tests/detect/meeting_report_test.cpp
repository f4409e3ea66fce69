#include "meeting_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tevoli::InputDevice;

// Answers with what the test set, and records the order of the questions.
class FakeSystem : public tevoli::SystemState {
public:
    std::optional<InputDevice> device;
    std::vector<std::optional<std::string>> apps;
    std::string asked;

    std::optional<InputDevice> defaultInputDevice() override {
        asked += "mic ";
        return device;
    }
    std::vector<std::optional<std::string>> runningApplications() override {
        asked += "apps ";
        return apps;
    }
};

TEST(MeetingReport, IdleMachineGivesTheBareLine) {
    FakeSystem system;
    system.device = InputDevice{false, false};
    system.apps = {"bash", std::nullopt, "com.tevoli.app"};
    EXPECT_EQ(tevoli::meetingReport(system), "{\"micInUse\":false,\"apps\":[]}\n");
    EXPECT_EQ(system.asked, "mic apps ");
}

TEST(MeetingReport, MicrophoneIsInUseOnlyWhenARealInputRuns) {
    FakeSystem system;
    EXPECT_FALSE(tevoli::micInUse(system));  // no device
    system.device = InputDevice{true, false};
    EXPECT_TRUE(tevoli::micInUse(system));
    system.device = InputDevice{true, true};  // a recorded output monitor is no microphone
    EXPECT_FALSE(tevoli::micInUse(system));
    system.device = InputDevice{false, false};
    EXPECT_FALSE(tevoli::micInUse(system));
}

TEST(MeetingReport, EachDisplayNameOnceInFirstSeenOrder) {
    FakeSystem system;
    system.device = InputDevice{true, false};
    system.apps = {"com.apple.Safari", "com.microsoft.teams", std::nullopt, "org.mozilla.firefox",
                   "com.microsoft.teams2", "us.zoom.xos", "com.google.Chrome.beta"};
    EXPECT_EQ(tevoli::runningMeetingApps(system), (std::vector<std::string>{"Browser", "Microsoft Teams", "Zoom"}));
    EXPECT_EQ(tevoli::meetingReport(system),
              "{\"micInUse\":true,\"apps\":[\"Browser\",\"Microsoft Teams\",\"Zoom\"]}\n");
}

TEST(MeetingReport, IdentifiersMatchWholeAndCaseSensitive) {
    EXPECT_EQ(tevoli::meetingLabel("com.cisco.webexmeetingsapp"), "Webex");
    EXPECT_EQ(tevoli::meetingLabel("company.thebrowser.Browser"), "Browser");
    for (const char* near : {"US.ZOOM.XOS", "us.zoom.xos.helper", "us.zoom", "com.google.chrome", ""})
        EXPECT_EQ(tevoli::meetingLabel(near), std::nullopt) << near;
}

}  // namespace
