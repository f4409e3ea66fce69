#pragma once
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "window_route.h"

namespace tevoli::window {

// The windows of every route as one list, and each window's capture through the
// route that listed it.
class MergedRoutes {
public:
    // `routes` in order of preference: where two list the same id, the first one's
    // entry is kept. A route that has not answered within `wait` is left out, once
    // another has given its windows.
    MergedRoutes(std::vector<std::shared_ptr<WindowRoute>> routes, std::chrono::milliseconds wait);

    // The routes' lists, in their order; fails only when every route failed, with the
    // first route's error.
    Outcome<std::vector<ShareableWindow>> windows();
    // For a window of the latest list.
    Outcome<Image> captureImage(const ShareableWindow& window);
    Outcome<std::unique_ptr<WindowStream>> startStream(const ShareableWindow& window);

private:
    // The route that listed the window, and the window as it listed it.
    std::optional<std::pair<std::shared_ptr<WindowRoute>, RouteWindow>> listed(std::uint32_t id);

    const std::vector<std::shared_ptr<WindowRoute>> routes_;
    const std::chrono::milliseconds wait_;
    std::mutex lock_;
    std::map<std::uint32_t, std::pair<std::size_t, RouteWindow>> latest_;
};

}  // namespace tevoli::window
