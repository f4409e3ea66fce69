#include "frame_store.h"

#include <thread>

namespace tevoli::window {

FrameStore::FrameStore(std::shared_ptr<ImageFiles> files, int width, int height, std::chrono::milliseconds frameWait)
    : files_(std::move(files)), width_(width), height_(height), frameWait_(frameWait) {}

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
            switch (files_->writeJpeg(*frame, width_, height_, path).failed) {
                case ImageFiles::Failed::nothing: return std::nullopt;
                case ImageFiles::Failed::render: return "cgimage failed";
                case ImageFiles::Failed::encode: return "jpeg encode failed";
                case ImageFiles::Failed::write: return "write failed";
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return "no frame";
}

}  // namespace tevoli::window
