#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "window_system.h"

namespace tevoli::window {

constexpr std::uint32_t kSwayGetTree = 4;

// One message to sway over its IPC socket at `socketPath`, and the payload of its
// reply, or the reason there is none. A sway that stops answering is given up on
// after a few seconds.
Outcome<std::string> swayRequest(const std::string& socketPath, std::uint32_t type, std::string_view payload = "");

}  // namespace tevoli::window
