#pragma once
#include <optional>
#include <vector>

#include "window_route.h"

namespace tevoli::window {

// Windows of the X server named by DISPLAY: an X11 desktop's, or a Wayland desktop's
// XWayland windows, captured through Composite (their own pixels). Every call opens
// its own connection, so calls from several threads never share one.
class X11Route final : public WindowRoute {
public:
    Outcome<std::vector<RouteWindow>> windows() override;
    Outcome<Image> captureImage(const RouteWindow& window) override;
    Outcome<std::unique_ptr<WindowStream>> startStream(const RouteWindow& window) override;
    // The server's own list of viewable windows, the listing's fallback; nothing
    // when it cannot be had.
    std::optional<std::vector<ServerWindow>> serverList();
};

}  // namespace tevoli::window
