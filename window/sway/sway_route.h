#pragma once
#include <memory>

#include "window_route.h"

namespace tevoli::window {

// The windows of sway (wlroots) through its IPC socket, captured as the region of the
// output they show on. Nothing unless the environment names a Wayland display and a
// sway socket.
std::shared_ptr<WindowRoute> makeSwayRoute();

}  // namespace tevoli::window
