#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "pixel_view.h"

namespace tevoli {

// The host's "quality 0.85" everywhere.
constexpr int kJpegQuality = 85;

// JPEG bytes of the image, or nothing when the encoder refuses it.
std::optional<std::vector<std::uint8_t>> encodeJpeg(const PixelView& image, int quality = kJpegQuality);

}  // namespace tevoli
