#pragma once
#include <string>

#include "system_state.h"

namespace tevoli::detect {

// The report line, {"micInUse":<bool>,"apps":[<names>]} and a line feed: the
// microphone is asked first, then the running applications, each meeting
// application named once.
std::string meetingReport(SystemState& system);

}  // namespace tevoli::detect
