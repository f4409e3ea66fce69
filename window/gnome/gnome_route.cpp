#include "gnome_route.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "owner_identity.h"
#include "pipewire_frames.h"
#include "screen_cast.h"
#include "shell_windows.h"

namespace tevoli::window {
namespace {

using Clock = DbusConnection::Clock;
// The extension answers at once when it is there; the bus says at once when it is not.
constexpr std::chrono::milliseconds kListWait{2000};
// Creating, starting and connecting to a cast; then its first frame, on a first and a
// second try, all within the 8 s a capture has.
constexpr std::chrono::milliseconds kCastWait{2000};
constexpr std::chrono::milliseconds kFirstFrameWaits[] = {std::chrono::milliseconds(1500),
                                                          std::chrono::milliseconds(3000)};

// What finds a listed window again and places it in the cast's frames: Mutter's id
// and the window's frame within them.
struct Placement {
    std::uint64_t id = 0;
    int x = 0, y = 0, width = 0, height = 0;
};

std::string handleOf(const ShellWindow& w) {
    std::ostringstream text;
    text << w.id << ' ' << w.contentX << ' ' << w.contentY << ' ' << w.width << ' ' << w.height;
    return text.str();
}

std::optional<Placement> placementOf(const std::string& handle) {
    Placement p;
    std::istringstream text(handle);
    if (!(text >> p.id >> p.x >> p.y >> p.width >> p.height) || p.width <= 0 || p.height <= 0) return std::nullopt;
    return p;
}

// Mutter's frames hold the window's whole buffer (shadows included) from the crop's
// corner; the window itself lies at its content offset from there.
std::optional<Image> windowPixels(const VideoFrame& frame, const Placement& p) {
    const int left = (frame.crop ? frame.crop->x : 0) + p.x;
    const int top = (frame.crop ? frame.crop->y : 0) + p.y;
    if (left < 0 || top < 0 || left + p.width > frame.width || top + p.height > frame.height) return std::nullopt;
    const std::size_t row = static_cast<std::size_t>(p.width) * 4;
    std::vector<std::uint8_t> pixels(row * static_cast<std::size_t>(p.height));
    for (int y = 0; y < p.height; ++y) {
        const std::uint8_t* from = frame.pixels + static_cast<std::size_t>(top + y) * frame.stride + left * 4;
        std::copy(from, from + row, pixels.begin() + static_cast<std::ptrdiff_t>(row * y));
    }
    return Image::of(p.width, p.height, std::move(pixels));
}

// A running cast of one window, with the connection it lives on. Declared in this
// order so that the frames go before the cast, and the cast (which stops it on the
// bus) before the bus.
struct Cast {
    std::unique_ptr<DbusConnection> bus;
    std::unique_ptr<ScreenCast> cast;
    std::unique_ptr<PipeWireFrames> frames;
    Placement placement;
};

std::unique_ptr<Cast> castOnce(const Placement& placement, std::string& error) {
    auto cast = std::make_unique<Cast>();
    cast->placement = placement;
    DbusError busError;
    cast->bus = DbusConnection::session(busError);
    if (!cast->bus) {
        error = busError.message;
        return nullptr;
    }
    cast->cast = ScreenCast::ofWindow(*cast->bus, placement.id, Clock::now() + kCastWait, error);
    if (!cast->cast) return nullptr;
    cast->frames = PipeWireFrames::open(cast->cast->node(), error);
    if (!cast->frames) return nullptr;
    return cast;
}

// A cast of the window that has sent its first frame. Mutter records one as a cast
// starts, but now and then (one cast in fifty, on a busy machine) that frame is lost
// before our stream runs, and a window that does not change sends no other: such a
// cast is started anew.
std::unique_ptr<Cast> startCast(const RouteWindow& window, std::string& error) {
    const auto placement = placementOf(window.handle);
    if (!placement) {
        error = "the window has no size";
        return nullptr;
    }
    for (const auto firstFrameWait : kFirstFrameWaits) {
        auto cast = castOnce(*placement, error);
        if (!cast) return nullptr;
        if (cast->frames->useLatest(firstFrameWait, [](const VideoFrame&) {})) return cast;
        error = cast->cast->ended() ? "the window is gone" : "the screen cast sent no frame";
    }
    return nullptr;
}

class GnomeWindowStream final : public WindowStream {
public:
    explicit GnomeWindowStream(std::unique_ptr<Cast> cast) : cast_(std::move(cast)) {}

    Grab grab() override {
        if (cast_->cast->ended() || cast_->frames->ended()) return {Status::stopped, {}};
        std::optional<Image> image;
        cast_->frames->useLatest(std::chrono::milliseconds(0),
                                 [&](const VideoFrame& frame) { image = windowPixels(frame, cast_->placement); });
        if (!image) return {Status::noFrame, {}};
        return {Status::frame, std::move(*image)};
    }

private:
    std::unique_ptr<Cast> cast_;
};

}  // namespace

std::shared_ptr<GnomeRoute> GnomeRoute::make() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland == nullptr || *wayland == '\0') return nullptr;
    return std::make_shared<GnomeRoute>();
}

Outcome<std::vector<RouteWindow>> GnomeRoute::windows() {
    DbusError busError;
    auto bus = DbusConnection::session(busError);
    if (!bus) return {std::nullopt, busError.message};
    auto listed = shellWindows(*bus, Clock::now() + kListWait);
    if (!listed.value) return {std::nullopt, listed.error};
    OwnerIdentities identities;
    std::vector<RouteWindow> windows;
    for (const ShellWindow& w : *listed.value) {
        ShareableWindow window;
        const bool x11 = w.clientType == 1;
        if (x11 && w.xid == 0) continue;  // no id to list it under
        window.id = x11 ? w.xid : nativeWindowId(std::to_string(w.id));
        window.width = w.width;
        window.height = w.height;
        window.bundleId = identities.of(w.pid > 0 ? std::optional<std::int32_t>(w.pid) : std::nullopt, w.wmClass);
        window.appName = w.wmClass;
        window.title = w.title;
        window.onScreen = true;
        windows.push_back({std::move(window), handleOf(w)});
    }
    return {std::move(windows), {}};
}

Outcome<Image> GnomeRoute::captureImage(const RouteWindow& window) {
    std::string error;
    auto cast = startCast(window, error);
    if (!cast) return {std::nullopt, error};
    std::optional<Image> image;
    cast->frames->useLatest(std::chrono::milliseconds(0),
                            [&](const VideoFrame& frame) { image = windowPixels(frame, cast->placement); });
    if (!image) return {std::nullopt, "the window lies outside the screen cast's frame"};
    return {std::move(image), {}};
}

Outcome<std::unique_ptr<WindowStream>> GnomeRoute::startStream(const RouteWindow& window) {
    std::string error;
    auto cast = startCast(window, error);
    if (!cast) return {std::nullopt, error};
    return {std::make_unique<GnomeWindowStream>(std::move(cast)), {}};
}

}  // namespace tevoli::window
