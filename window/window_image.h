#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "window_system.h"

namespace tevoli::window {

// Captured windows are delivered at twice their size.
constexpr int kScale = 2;

// `image` resized to width x height by nearest neighbour; nothing when either is empty.
std::optional<Image> scaled(const Image& image, int width, int height);

// JPEG bytes at the shared quality, or nothing when the encoder refuses.
std::optional<std::vector<std::uint8_t>> jpegOf(const Image& image);

}  // namespace tevoli::window
