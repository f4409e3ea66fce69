#include "jpeg_doubled.h"

#include <turbojpeg.h>

#include <cstring>
#include <memory>

namespace tevoli {
namespace {

struct TjDestroy {
    void operator()(void* handle) const { tjDestroy(handle); }
};
struct TjFree {
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};

struct Channels {
    int red, green, blue, size;
};

Channels channelsOf(PixelLayout layout) {
    switch (layout) {
        case PixelLayout::rgb: return {0, 1, 2, 3};
        case PixelLayout::bgrx: return {2, 1, 0, 4};
        case PixelLayout::rgbx: return {0, 1, 2, 4};
    }
    return {0, 1, 2, 3};
}

// The JFIF colour transform in 16-bit fixed point, rounded as libjpeg rounds it.
inline std::uint8_t luma(int r, int g, int b) { return static_cast<std::uint8_t>((19595 * r + 38470 * g + 7471 * b + 32768) >> 16); }
inline std::uint8_t blueDifference(int r, int g, int b) {
    return static_cast<std::uint8_t>((-11059 * r - 21709 * g + 32768 * b + (128 << 16) + 32767) >> 16);
}
inline std::uint8_t redDifference(int r, int g, int b) {
    return static_cast<std::uint8_t>((32768 * r - 27439 * g - 5329 * b + (128 << 16) + 32767) >> 16);
}

}  // namespace

std::optional<std::vector<std::uint8_t>> encodeJpegDoubled(const PixelView& image, int quality) {
    if (image.pixels == nullptr || image.width <= 0 || image.height <= 0) return std::nullopt;
    const Channels ch = channelsOf(image.layout);
    const std::size_t width = static_cast<std::size_t>(image.width);
    const std::size_t height = static_cast<std::size_t>(image.height);
    // With 2x2 chroma subsampling every chroma sample covers exactly one source pixel.
    std::vector<std::uint8_t> y(4 * width * height), cb(width * height), cr(width * height);
    for (std::size_t row = 0; row < height; ++row) {
        const std::uint8_t* source = image.pixels + row * static_cast<std::size_t>(image.stride);
        std::uint8_t* top = y.data() + 2 * row * 2 * width;
        std::uint8_t* cbRow = cb.data() + row * width;
        std::uint8_t* crRow = cr.data() + row * width;
        for (std::size_t x = 0; x < width; ++x, source += ch.size) {
            const int r = source[ch.red], g = source[ch.green], b = source[ch.blue];
            top[2 * x] = top[2 * x + 1] = luma(r, g, b);
            cbRow[x] = blueDifference(r, g, b);
            crRow[x] = redDifference(r, g, b);
        }
        std::memcpy(top + 2 * width, top, 2 * width);
    }
    std::unique_ptr<void, TjDestroy> compressor(tjInitCompress());
    if (!compressor) return std::nullopt;
    const unsigned char* planes[3] = {y.data(), cb.data(), cr.data()};
    const int strides[3] = {static_cast<int>(2 * width), static_cast<int>(width), static_cast<int>(width)};
    unsigned char* raw = nullptr;
    unsigned long size = 0;
    const int status = tjCompressFromYUVPlanes(compressor.get(), planes, 2 * image.width, strides, 2 * image.height,
                                               TJSAMP_420, &raw, &size, quality, TJFLAG_ACCURATEDCT);
    std::unique_ptr<unsigned char, TjFree> owned(raw);
    if (status != 0 || raw == nullptr || size == 0) return std::nullopt;
    return std::vector<std::uint8_t>(raw, raw + size);
}

}  // namespace tevoli
