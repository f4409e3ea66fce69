#include "meeting_report.h"

#include <gtest/gtest.h>

namespace tevoli::detect {
namespace {

class FakeSystem : public SystemState {
public:
    std::optional<InputDevice> device;
    std::vector<std::optional<std::string>> apps;
    std::optional<InputDevice> defaultInputDevice() override { return device; }
    std::vector<std::optional<std::string>> runningApplications() override { return apps; }
};

TEST(MeetingReport, MicrophoneInUseOnlyWhenAMicrophoneIsRecorded) {
    const struct {
        std::optional<InputDevice> device;
        const char* line;
    } cases[] = {
        {std::nullopt, R"({"micInUse":false,"apps":[]})"},
        {InputDevice{false, false}, R"({"micInUse":false,"apps":[]})"},
        {InputDevice{true, true}, R"({"micInUse":false,"apps":[]})"},  // a monitor being recorded
        {InputDevice{true, false}, R"({"micInUse":true,"apps":[]})"},
    };
    for (const auto& c : cases) {
        FakeSystem system;
        system.device = c.device;
        EXPECT_EQ(meetingReport(system), std::string(c.line) + "\n");
    }
}

TEST(MeetingReport, EachNameOnceInTheOrderFound) {
    FakeSystem system;
    system.apps = {"com.microsoft.teams", "com.apple.Safari", std::nullopt, "us.zoom.xos.helper", "org.mozilla.firefox",
                   "com.microsoft.teams2", "us.zoom.xos", "com.google.Chrome.beta"};
    EXPECT_EQ(meetingReport(system), "{\"micInUse\":false,\"apps\":[\"Microsoft Teams\",\"Browser\",\"Zoom\"]}\n");
}

}  // namespace
}  // namespace tevoli::detect
