#pragma once
#include <cstdint>

namespace tevoli {

// Byte order of one pixel: what the video decoder and the display hand over.
enum class PixelLayout { rgb, bgrx };

// A view of packed 8-bit pixels, rows `stride` bytes apart.
struct PixelView {
    const std::uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
    PixelLayout layout = PixelLayout::rgb;
};

}  // namespace tevoli
