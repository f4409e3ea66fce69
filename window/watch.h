#pragma once
#include <chrono>
#include <functional>
#include <stop_token>
#include <string_view>

#include "frame_store.h"
#include "window_system.h"

namespace tevoli::window {

// Feeds `store` from `stream`, a frame at most every `interval`, until the stream
// stops (then the store is marked stopped) or `until` asks for the end.
void runCapture(WindowStream& stream, FrameStore& store, std::chrono::milliseconds interval, std::stop_token until);

// Serves "shoot <path>" and "quit" lines read from `fd`, answering each shot through
// `reply` (one line, without its line feed). Returns at "quit" or end of input.
void serveCommands(int fd, FrameStore& store, const std::function<void(std::string_view)>& reply);

}  // namespace tevoli::window
