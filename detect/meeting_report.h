#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "system_state.h"

namespace tevoli {

// Display name of a meeting application or browser; exact, case-sensitive match.
std::optional<std::string_view> meetingLabel(std::string_view bundleIdentifier);

// True when the default input device is a microphone that is being recorded from.
bool micInUse(SystemState& system);

// Display names of the running meeting applications, each once.
std::vector<std::string> runningMeetingApps(SystemState& system);

// {"micInUse":<bool>,"apps":[<names>]} and a line feed.
std::string reportLine(bool micInUse, const std::vector<std::string>& apps);

// The whole report: the microphone is asked first, then the applications.
std::string meetingReport(SystemState& system);

}  // namespace tevoli
