#pragma once
#include <chrono>
#include <functional>
#include <string_view>

#include "frame_store.h"
#include "window_system.h"

namespace tevoli::window {

// Frames are taken at most this often.
inline constexpr std::chrono::milliseconds kFrameInterval{500};

// Feeds `store` from `stream` until the stream stops, then marks the store stopped.
void runCapture(WindowStream& stream, FrameStore& store, std::chrono::milliseconds interval = kFrameInterval);

// Serves "shoot <path>" and "quit" lines read from `fd`, answering each shot through
// `reply` (one line, without its line feed). Returns at "quit" or end of input.
void serveCommands(int fd, FrameStore& store, const std::function<void(std::string_view)>& reply);

}  // namespace tevoli::window
