// A window's own pixels through KWin's ScreenShot2: KWin writes the raw image into a
// pipe of ours and describes it in the reply.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

#include "dbus_connection.h"
#include "kwin_bus.h"
#include "kwin_route.h"

namespace tevoli::window {
namespace {

using namespace std::chrono_literals;
using Clock = DbusConnection::Clock;

// Within the 8 s a capture or the start of watch mode may take.
constexpr auto kShotWait = 6000ms;

constexpr const char* kNoAuthorized = "org.kde.KWin.ScreenShot2.Error.NoAuthorized";
constexpr const char* kInvalidWindow = "org.kde.KWin.ScreenShot2.Error.InvalidWindow";
constexpr const char* kNoAuthorizedHelp =
    "KWin refused the screenshot: it allows one only to a program installed with a .desktop file that names "
    "org.kde.KWin.ScreenShot2 in X-KDE-DBUS-Restricted-Interfaces; install tevoli-window from the tevoli-helpers "
    "package (or with cmake --install), which installs that file";

// QImage formats: 32-bit pixels stored blue, green, red, alpha on this byte order...
constexpr std::int64_t kRgb32 = 4, kArgb32 = 5, kArgb32Premultiplied = 6;
// ...or red, green, blue, alpha.
constexpr std::int64_t kRgbx8888 = 16, kRgba8888 = 17, kRgba8888Premultiplied = 18;

struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    void close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

// Everything written into `fd` until its last writer closes it or `deadline` passes.
std::vector<std::uint8_t> readToEnd(int fd, Clock::time_point deadline) {
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[1 << 16];
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return bytes;
        pollfd ready{fd, POLLIN, 0};
        const int r = ::poll(&ready, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return bytes;
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return bytes;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
}

struct Shot {
    std::optional<Image> image;
    DbusError error;  // when there is no image: KWin's, or ours with an empty name
};

Shot failedShot(std::string text) { return {std::nullopt, {"", std::move(text)}}; }

// The pixels as KWin described them, in the layout of Image.
Shot imageOf(std::vector<std::uint8_t> bytes, const DbusDict& described) {
    const auto format = dictInteger(described, "format");
    const auto width = dictInteger(described, "width");
    const auto height = dictInteger(described, "height");
    const auto stride = dictInteger(described, "stride");
    if (!format || !width || !height || !stride || *width <= 0 || *height <= 0 || *stride < *width * 4 ||
        *height > (1 << 16) || *stride > (1 << 20))
        return failedShot("KWin described no image");
    const bool redFirst = *format == kRgbx8888 || *format == kRgba8888 || *format == kRgba8888Premultiplied;
    if (!redFirst && *format != kRgb32 && *format != kArgb32 && *format != kArgb32Premultiplied)
        return failedShot("KWin sent an image of format " + std::to_string(*format));
    const auto needed = static_cast<std::size_t>(*stride) * static_cast<std::size_t>(*height);
    if (bytes.size() < needed) return failedShot("KWin sent a short image");
    if (redFirst) {
        for (std::size_t row = 0; row < needed; row += static_cast<std::size_t>(*stride)) {
            for (std::size_t i = row; i < row + static_cast<std::size_t>(*width) * 4; i += 4)
                std::swap(bytes[i], bytes[i + 2]);
        }
    }
    auto owned = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
    Image image{static_cast<int>(*width), static_cast<int>(*height), static_cast<int>(*stride), owned->data(),
                owned->size(), owned};
    return {std::move(image), {}};
}

// One shot of the window with KWin's handle `uuid`, its decoration included: the frame
// the listing measured.
Shot shoot(DbusConnection& bus, const std::string& uuid) {
    const auto deadline = Clock::now() + kShotWait;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return failedShot(std::string("pipe: ") + std::strerror(errno));
    Fd readEnd(ends[0]);
    Fd writeEnd(ends[1]);
    // Read while KWin writes: it may fill the pipe before it answers.
    std::vector<std::uint8_t> bytes;
    std::thread reader([&bytes, fd = readEnd.fd, deadline] { bytes = readToEnd(fd, deadline); });
    auto reply = bus.call(deadline, kKwinService, "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2",
                          "CaptureWindow", "sa{sv}h", uuid.c_str(), 3, "include-decoration", "b", 1,
                          "include-cursor", "b", 0, "include-shadow", "b", 0, writeEnd.fd);
    writeEnd.close();  // the message's copy went with the call: KWin holds the last writer
    reader.join();
    if (!reply.message) return {std::nullopt, reply.error};
    const auto described = readDict(reply.message.get());
    if (!described) return failedShot("KWin described no image");
    return imageOf(std::move(bytes), *described);
}

std::string failureText(const DbusError& error) {
    if (error.name == kNoAuthorized) return kNoAuthorizedHelp;
    return busErrorText(error);
}

// Watch mode: a shot per grab; the core grabs at most twice a second.
class KwinStream final : public WindowStream {
public:
    KwinStream(std::unique_ptr<DbusConnection> bus, std::string uuid, Image first)
        : bus_(std::move(bus)), uuid_(std::move(uuid)), first_(std::move(first)) {}

    Grab grab() override {
        if (first_) return {Status::frame, *std::exchange(first_, std::nullopt)};
        Shot shot = shoot(*bus_, uuid_);
        if (shot.image) return {Status::frame, std::move(*shot.image)};
        // A closed window, or KWin gone with all its windows.
        const bool gone = shot.error.name == kInvalidWindow ||
                          shot.error.name == "org.freedesktop.DBus.Error.ServiceUnknown" ||
                          shot.error.name == "org.freedesktop.DBus.Error.NoReply" ||
                          sd_bus_is_open(bus_->get()) <= 0;
        return {gone ? Status::stopped : Status::noFrame, {}};
    }

private:
    std::unique_ptr<DbusConnection> bus_;
    std::string uuid_;
    std::optional<Image> first_;
};

}  // namespace

Outcome<Image> KwinRoute::captureImage(const RouteWindow& window) {
    DbusError error;
    auto bus = DbusConnection::session(error);
    if (!bus) return {std::nullopt, busErrorText(error)};
    Shot shot = shoot(*bus, window.handle);
    if (!shot.image) return {std::nullopt, failureText(shot.error)};
    return {std::move(shot.image), {}};
}

// The first shot starts the stream: it tells at once whether KWin lets us capture.
Outcome<std::unique_ptr<WindowStream>> KwinRoute::startStream(const RouteWindow& window) {
    DbusError error;
    auto bus = DbusConnection::session(error);
    if (!bus) return {std::nullopt, busErrorText(error)};
    Shot shot = shoot(*bus, window.handle);
    if (!shot.image) return {std::nullopt, failureText(shot.error)};
    return {std::make_unique<KwinStream>(std::move(bus), window.handle, std::move(*shot.image)), {}};
}

}  // namespace tevoli::window
