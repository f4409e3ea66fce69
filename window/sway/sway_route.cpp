#include "sway_route.h"

#include <algorithm>
#include <cstdlib>

#include "owner_identity.h"
#include "sway_ipc.h"
#include "sway_screencopy.h"
#include "sway_tree.h"

namespace tevoli::window {
namespace {

constexpr const char* kNotShown = "the window is not on a workspace that is shown";

Outcome<std::vector<SwayView>> currentViews(const std::string& socket) {
    auto tree = swayRequest(socket, kSwayGetTree);
    if (!tree.value) return {std::nullopt, tree.error};
    auto views = swayViews(*tree.value);
    if (!views) return {std::nullopt, "sway's window tree is not JSON"};
    return {std::move(*views), {}};
}

// The part of the view that its output shows, in the output's own coordinates.
std::optional<SwayRect> shownRegion(const SwayView& view) {
    if (!view.visible) return std::nullopt;
    const SwayRect& o = view.outputRect;
    const int left = std::max(view.rect.x, o.x), top = std::max(view.rect.y, o.y);
    const int right = std::min(view.rect.x + view.rect.width, o.x + o.width);
    const int bottom = std::min(view.rect.y + view.rect.height, o.y + o.height);
    if (right <= left || bottom <= top) return std::nullopt;
    return SwayRect{left - o.x, top - o.y, right - left, bottom - top};
}

// The view's pixels now; `gone` when sway no longer has it.
struct Copied {
    Outcome<Image> image;
    bool gone = false;
};

Copied copyView(const std::string& socket, std::int64_t conId, OutputCopier& copier) {
    auto views = currentViews(socket);
    if (!views.value) return {{std::nullopt, views.error}, false};
    const auto view = std::find_if(views.value->begin(), views.value->end(),
                                   [conId](const SwayView& v) { return v.conId == conId; });
    if (view == views.value->end()) return {{std::nullopt, "the window is gone"}, true};
    const auto region = shownRegion(*view);
    if (!region) return {{std::nullopt, kNotShown}, false};
    return {copier.copy(view->output, *region), false};
}

class SwayStream final : public WindowStream {
public:
    SwayStream(std::string socket, std::int64_t conId, std::unique_ptr<OutputCopier> copier)
        : socket_(std::move(socket)), conId_(conId), copier_(std::move(copier)) {}

    // A window on a workspace not shown has no frame for now; it may come back.
    Grab grab() override {
        Copied copied = copyView(socket_, conId_, *copier_);
        if (copied.image.value) return {Status::frame, std::move(*copied.image.value)};
        return {copied.gone ? Status::stopped : Status::noFrame, {}};
    }

private:
    const std::string socket_;
    const std::int64_t conId_;
    const std::unique_ptr<OutputCopier> copier_;
};

class SwayRoute final : public WindowRoute {
public:
    explicit SwayRoute(std::string socket) : socket_(std::move(socket)) {}

    Outcome<std::vector<RouteWindow>> windows() override {
        auto views = currentViews(socket_);
        if (!views.value) return {std::nullopt, views.error};
        OwnerIdentities identities;
        std::vector<RouteWindow> windows;
        for (const SwayView& view : *views.value) {
            ShareableWindow w;
            w.id = view.xid ? *view.xid : nativeWindowId(static_cast<std::uint64_t>(view.conId));
            w.width = view.rect.width;
            w.height = view.rect.height;
            w.bundleId = identities.of(view.pid, view.appId);
            w.appName = view.appId;
            w.title = view.title;
            w.onScreen = view.visible;
            windows.push_back({std::move(w), std::to_string(view.conId)});
        }
        return {std::move(windows), {}};
    }

    Outcome<Image> captureImage(const RouteWindow& window) override {
        std::string error;
        auto copier = OutputCopier::open(error);
        if (!copier) return {std::nullopt, error};
        return copyView(socket_, conIdOf(window), *copier).image;
    }

    Outcome<std::unique_ptr<WindowStream>> startStream(const RouteWindow& window) override {
        std::string error;
        auto copier = OutputCopier::open(error);
        if (!copier) return {std::nullopt, error};
        return {std::make_unique<SwayStream>(socket_, conIdOf(window), std::move(copier)), {}};
    }

private:
    static std::int64_t conIdOf(const RouteWindow& window) { return std::strtoll(window.handle.c_str(), nullptr, 10); }

    const std::string socket_;
};

}  // namespace

std::shared_ptr<WindowRoute> makeSwayRoute() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* socket = std::getenv("SWAYSOCK");
    if (wayland == nullptr || *wayland == '\0' || socket == nullptr || *socket == '\0') return nullptr;
    return std::make_shared<SwayRoute>(socket);
}

}  // namespace tevoli::window
