#pragma once
// An in-memory display for the window program's core.
#include <chrono>
#include <deque>
#include <thread>

#include "window_system.h"

namespace tevoli::window::testing {

inline Image solid(int width, int height, std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < width * height; ++i) bytes.insert(bytes.end(), {blue, green, red, 0});
    return Image::of(width, height, std::move(bytes));
}

// Hands out the grabs it was given, then reports the window gone.
class FakeStream final : public WindowStream {
public:
    std::deque<Grab> grabs;
    int calls = 0;
    Grab grab() override {
        ++calls;
        if (grabs.empty()) return {Status::stopped, {}};
        Grab next = std::move(grabs.front());
        grabs.pop_front();
        return next;
    }
};

class FakeWindowSystem final : public WindowSystem {
public:
    Outcome<std::vector<ShareableWindow>> content;
    bool contentHangs = false;
    std::optional<std::vector<ServerWindow>> serverList;
    Outcome<Image> image;
    std::string streamError;

    Outcome<std::vector<ShareableWindow>> shareableContent() override {
        while (contentHangs) std::this_thread::sleep_for(std::chrono::hours(1));
        return content;
    }
    std::optional<std::vector<ServerWindow>> windowServerList() override { return serverList; }
    std::vector<RunningApplication> runningApplications() override { return {}; }
    Outcome<Image> captureImage(const ShareableWindow&) override { return image; }
    Outcome<std::unique_ptr<WindowStream>> startStream(const ShareableWindow&) override {
        return {std::nullopt, streamError};
    }
};

}  // namespace tevoli::window::testing
