#pragma once
#include <memory>

#include "window_route.h"

namespace tevoli::window {

// Windows of GNOME Shell on Wayland: listed by our Shell extension on the session
// bus, captured through Mutter's screen cast (their own pixels) read from PipeWire.
// Each call opens its own bus connection.
class GnomeRoute final : public WindowRoute {
public:
    // A route on any Wayland desktop: whether it is GNOME with our extension shows
    // only when the extension answers.
    static std::shared_ptr<GnomeRoute> make();

    Outcome<std::vector<RouteWindow>> windows() override;
    Outcome<Image> captureImage(const RouteWindow& window) override;
    Outcome<std::unique_ptr<WindowStream>> startStream(const RouteWindow& window) override;
};

}  // namespace tevoli::window
