#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tevoli::window {

// One window the display offers for recording: a top-level client window.
struct ShareableWindow {
    std::uint32_t id = 0;
    int layer = 0;  // 0 for an ordinary application window
    double width = 0;
    double height = 0;
    std::optional<std::string> bundleId;  // the owning process's identifier, when it can be read
    std::string appName;                  // the owner's name; empty when unknown
    std::optional<std::string> title;
    bool onScreen = false;
};

// One entry of the display server's own list of viewable windows.
struct ServerWindow {
    std::optional<std::int32_t> ownerPid;
    std::uint32_t number = 0;
    int layer = 0;
    double width = 0;
    double height = 0;
    std::string ownerName;
    std::string name;
};

struct RunningApplication {
    std::optional<std::string> bundleId;
    std::int32_t pid = 0;
};

// Packed 8-bit pixels, blue-green-red-unused, rows `stride` bytes apart. The bytes
// may be the display library's own reply, which `storage` keeps alive: a captured
// window is never copied.
struct Image {
    int width = 0;
    int height = 0;
    int stride = 0;
    const std::uint8_t* pixels = nullptr;
    std::size_t size = 0;  // bytes at `pixels`
    std::shared_ptr<const void> storage;

    static Image of(int width, int height, std::vector<std::uint8_t> bytes) {
        auto owned = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
        return Image{width, height, width * 4, owned->data(), owned->size(), owned};
    }
};

// A value or the display's error text (empty when it gave none).
template <typename T>
struct Outcome {
    std::optional<T> value;
    std::string error;
};

// A running capture of one window; frames are taken only when asked.
class WindowStream {
public:
    enum class Status { frame, noFrame, stopped };
    struct Grab {
        Status status = Status::noFrame;
        Image image;  // with Status::frame
    };
    virtual ~WindowStream() = default;
    virtual Grab grab() = 0;
};

// Where captured images go: JPEG files at the host's paths.
class ImageFiles {
public:
    // The step that failed: rendering the picture at its size, encoding it, writing it.
    enum class Failed { nothing, render, encode, write };
    struct Written {
        Failed failed = Failed::nothing;
        std::string error;  // the system's text, when writing failed
    };
    virtual ~ImageFiles() = default;
    // Writes `image` brought to width x height as a JPEG at `path`, replacing any file there.
    virtual Written writeJpeg(const Image& image, int width, int height, const std::string& path) = 0;
};

// What the window program needs from the display and the file system. Each display
// call may block on the display server; callers bound the wait.
class WindowSystem : public ImageFiles {
public:
    virtual ~WindowSystem() = default;
    virtual Outcome<std::vector<ShareableWindow>> shareableContent() = 0;
    // Nothing when the server list cannot be had.
    virtual std::optional<std::vector<ServerWindow>> windowServerList() = 0;
    virtual std::vector<RunningApplication> runningApplications() = 0;
    // The window's own pixels, unscaled, whatever covers it.
    virtual Outcome<Image> captureImage(const ShareableWindow& window) = 0;
    virtual Outcome<std::unique_ptr<WindowStream>> startStream(const ShareableWindow& window) = 0;
};

}  // namespace tevoli::window
