#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "window_system.h"

namespace tevoli::window {

// `image` resized to width x height by nearest neighbour; nothing when either is empty.
std::optional<Image> scaled(const Image& image, int width, int height);

struct Encoded {
    ImageFiles::Status status = ImageFiles::Status::ok;
    std::vector<std::uint8_t> jpeg;
};

// The image as delivered: brought to width x height and JPEG-encoded at the shared quality.
Encoded encodeAtSize(const Image& image, int width, int height);

}  // namespace tevoli::window
