#pragma once
#include <cstdint>
#include <vector>

#include "window_system.h"

namespace tevoli::window {

struct Encoded {
    enum class Status { ok, renderFailed, encodeFailed };
    Status status = Status::ok;
    std::vector<std::uint8_t> jpeg;
};

// The image as delivered: brought to width x height and JPEG-encoded at the shared quality.
Encoded encodeAtSize(const Image& image, int width, int height);

}  // namespace tevoli::window
