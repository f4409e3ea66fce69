#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "jpeg_writer.h"

namespace tevoli {

// JPEG bytes of `image` enlarged to twice its width and height by repeating each
// pixel, at the quality and sampling of encodeJpeg. The encoder is fed the small
// image's colour planes a few rows at a time, so the enlarged picture is never
// built in memory. Nothing when the encoder refuses it.
std::optional<std::vector<std::uint8_t>> encodeJpegDoubled(const PixelView& image, int quality = kJpegQuality);

}  // namespace tevoli
