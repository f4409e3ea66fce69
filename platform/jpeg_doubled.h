#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "jpeg_writer.h"

namespace tevoli {

// JPEG bytes of `image` enlarged to twice its width and height by repeating each
// pixel, at the same quality and sampling as encodeJpeg. Made straight from the
// small image's colour planes, so the enlarged picture is never built in RGB.
// Nothing when the encoder refuses it.
std::optional<std::vector<std::uint8_t>> encodeJpegDoubled(const PixelView& image, int quality = kJpegQuality);

}  // namespace tevoli
