#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tevoli {

// One video frame as a PipeWire node sent it: packed blue-green-red-unused pixels,
// rows `stride` bytes apart.
struct VideoFrame {
    int width = 0;
    int height = 0;
    int stride = 0;
    const std::uint8_t* pixels = nullptr;
    struct Region {
        int x = 0, y = 0, width = 0, height = 0;
    };
    std::optional<Region> crop;  // the part the sender marked as the picture, when it did
};

// The frames of one video node of this session's PipeWire daemon (a screen cast),
// in memory buffers. A screen cast sends a frame only when the picture changes, so
// the last frame is held as the picture of now until the next one replaces it.
class PipeWireFrames {
public:
    // Connects to `node`; on failure returns null and sets `error` to the reason.
    static std::unique_ptr<PipeWireFrames> open(std::uint32_t node, std::string& error);
    ~PipeWireFrames();
    PipeWireFrames(const PipeWireFrames&) = delete;
    PipeWireFrames& operator=(const PipeWireFrames&) = delete;

    // Hands the last frame to `use`, waiting up to `wait` for a first one; the frame
    // stays valid only during the call. False when no frame came, or the stream ended.
    bool useLatest(std::chrono::milliseconds wait, const std::function<void(const VideoFrame&)>& use);
    // Whether the stream failed or its sender went away.
    bool ended();

    struct State;

private:
    explicit PipeWireFrames(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace tevoli
