#pragma once
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "window_system.h"

namespace tevoli::window {

// Holds the latest complete frame of a watched window; snapshots render it on demand.
class FrameStore {
public:
    // Snapshots come out at width x height, fixed when the stream starts, written
    // through `files`; a snapshot waits up to `frameWait` for a first frame.
    FrameStore(std::shared_ptr<ImageFiles> files, int width, int height, std::chrono::milliseconds frameWait);

    void offer(Image frame);
    void markStopped();

    // Writes the latest frame as a JPEG at `path`; nothing on success, else the reason.
    std::optional<std::string> snapshot(const std::string& path);

private:
    std::mutex lock_;
    std::shared_ptr<const Image> latest_;
    bool stopped_ = false;
    const std::shared_ptr<ImageFiles> files_;
    const int width_;
    const int height_;
    const std::chrono::milliseconds frameWait_;
};

}  // namespace tevoli::window
