// Chooses the routes to the desktop's windows and asks them together.
#include "linux_window_system.h"

#include "app_identity.h"
#include "gnome/gnome_route.h"
#include "kwin/kwin_route.h"
#include "sway/sway_route.h"
#include "x11/x11_route.h"

namespace tevoli::window {
namespace {

// A route that has not listed its windows by then is left out, so that a compositor
// that never answers costs the others nothing within the listing's 4 s.
constexpr std::chrono::milliseconds kRouteWait{2500};

// X11 first: an XWayland window that a compositor lists too is captured through X11.
// Then one line per Wayland route; its make function gives nothing where its desktop
// is not running.
std::vector<std::shared_ptr<WindowRoute>> desktopRoutes(std::shared_ptr<X11Route> x11) {
    std::vector<std::shared_ptr<WindowRoute>> routes{std::move(x11)};
    routes.push_back(makeSwayRoute());
    routes.push_back(makeKwinRoute());
    routes.push_back(GnomeRoute::make());
    std::erase(routes, nullptr);
    return routes;
}

}  // namespace

LinuxWindowSystem::LinuxWindowSystem()
    : x11_(std::make_shared<X11Route>()), routes_(desktopRoutes(x11_), kRouteWait) {}

Outcome<std::vector<ShareableWindow>> LinuxWindowSystem::shareableContent() { return routes_.windows(); }

std::optional<std::vector<ServerWindow>> LinuxWindowSystem::windowServerList() { return x11_->serverList(); }

std::vector<RunningApplication> LinuxWindowSystem::runningApplications() {
    std::vector<RunningApplication> apps;
    for (int pid : processIds()) apps.push_back({appIdentifier(pid), pid});
    return apps;
}

Outcome<Image> LinuxWindowSystem::captureImage(const ShareableWindow& window) {
    return routes_.captureImage(window);
}

Outcome<std::unique_ptr<WindowStream>> LinuxWindowSystem::startStream(const ShareableWindow& window) {
    return routes_.startStream(window);
}

}  // namespace tevoli::window
