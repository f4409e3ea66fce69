#include "frame_store.h"

#include <thread>

#include "jpeg_writer.h"
#include "window_image.h"

namespace tevoli::window {

FrameStore::FrameStore(int width, int height, std::chrono::milliseconds frameWait)
    : width_(width), height_(height), frameWait_(frameWait) {}

void FrameStore::offer(Image frame) {
    auto shared = std::make_shared<const Image>(std::move(frame));
    std::lock_guard<std::mutex> hold(lock_);
    latest_ = std::move(shared);
}

void FrameStore::markStopped() {
    std::lock_guard<std::mutex> hold(lock_);
    stopped_ = true;
}

std::optional<std::string> FrameStore::snapshot(const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + frameWait_;
    while (std::chrono::steady_clock::now() < deadline) {
        std::shared_ptr<const Image> frame;
        bool stopped = false;
        {
            std::lock_guard<std::mutex> hold(lock_);
            frame = latest_;
            stopped = stopped_;
        }
        if (stopped) return "stopped";
        if (frame) {
            // Rendering and encoding happen outside the lock, so frames keep arriving.
            const Encoded encoded = encodeAtSize(*frame, width_, height_);
            if (encoded.status == Encoded::Status::renderFailed) return "cgimage failed";
            if (encoded.status == Encoded::Status::encodeFailed) return "jpeg encode failed";
            if (writeFileBytes(path, encoded.jpeg)) return "write failed";
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return "no frame";
}

}  // namespace tevoli::window
