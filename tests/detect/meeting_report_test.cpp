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

TEST(MeetingReport, MicrophoneInUseOnlyWhenOneIsRecordedAndEachNameOnceInTheOrderFound) {
    const std::vector<std::optional<std::string>> apps{
        "com.microsoft.teams", "com.apple.Safari", std::nullopt, "us.zoom.xos.helper", "org.mozilla.firefox",
        "com.microsoft.teams2", "us.zoom.xos", "com.google.Chrome.beta"};
    const struct {
        std::optional<InputDevice> device;
        std::vector<std::optional<std::string>> apps;
        const char* line;
    } cases[] = {
        {std::nullopt, {}, R"({"micInUse":false,"apps":[]})"},
        {InputDevice{false, false}, {}, R"({"micInUse":false,"apps":[]})"},
        {InputDevice{true, true}, {}, R"({"micInUse":false,"apps":[]})"},  // a monitor being recorded
        {InputDevice{true, false}, apps, R"({"micInUse":true,"apps":["Microsoft Teams","Browser","Zoom"]})"},
    };
    for (const auto& c : cases) {
        FakeSystem system;
        system.device = c.device;
        system.apps = c.apps;
        EXPECT_EQ(meetingReport(system), std::string(c.line) + "\n");
    }
}

}  // namespace
}  // namespace tevoli::detect
