#pragma once
#include <memory>

#include "window_route.h"

namespace tevoli::window {

// The windows of a KDE Plasma Wayland session: listed by a KWin script we load for
// the moment, captured through KWin's ScreenShot2 (the window's own pixels). KWin
// grants ScreenShot2 only to a program installed with a .desktop file that names the
// interface (the package installs one). Each call opens its own bus connection.
class KwinRoute final : public WindowRoute {
public:
    Outcome<std::vector<RouteWindow>> windows() override;
    Outcome<Image> captureImage(const RouteWindow& window) override;
    Outcome<std::unique_ptr<WindowStream>> startStream(const RouteWindow& window) override;
};

// The route on a Wayland session (WAYLAND_DISPLAY set); whether KWin is the compositor
// is found when listing.
std::shared_ptr<WindowRoute> makeKwinRoute();

}  // namespace tevoli::window
