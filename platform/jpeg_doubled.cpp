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

// The JFIF colour transform in 16-bit fixed point, rounded as libjpeg rounds it.
inline std::uint8_t luma(int r, int g, int b) { return static_cast<std::uint8_t>((19595 * r + 38470 * g + 7471 * b + 32768) >> 16); }
inline std::uint8_t blueDifference(int r, int g, int b) {
    return static_cast<std::uint8_t>((-11059 * r - 21709 * g + 32768 * b + (128 << 16) + 32767) >> 16);
}
inline std::uint8_t redDifference(int r, int g, int b) {
    return static_cast<std::uint8_t>((32768 * r - 27439 * g - 5329 * b + (128 << 16) + 32767) >> 16);
}

// One row to full-size luma and chroma. The channel offsets are constants so that
// the compiler vectorises the loop.
template <int Red, int Green, int Blue, int Size>
void convertRow(const std::uint8_t* source, std::size_t width, std::uint8_t* y, std::uint8_t* cb, std::uint8_t* cr) {
    for (std::size_t x = 0; x < width; ++x) {
        const std::uint8_t* p = source + x * Size;
        const int r = p[Red], g = p[Green], b = p[Blue];
        y[x] = luma(r, g, b);
        cb[x] = blueDifference(r, g, b);
        cr[x] = redDifference(r, g, b);
    }
}

void convertRow(PixelLayout layout, const std::uint8_t* source, std::size_t width, std::uint8_t* y, std::uint8_t* cb,
                std::uint8_t* cr) {
    switch (layout) {
        case PixelLayout::rgb: return convertRow<0, 1, 2, 3>(source, width, y, cb, cr);
        case PixelLayout::bgrx: return convertRow<2, 1, 0, 4>(source, width, y, cb, cr);
        case PixelLayout::rgbx: return convertRow<0, 1, 2, 4>(source, width, y, cb, cr);
    }
}

}  // namespace

std::optional<std::vector<std::uint8_t>> encodeJpegDoubled(const PixelView& image, int quality) {
    if (image.pixels == nullptr || image.width <= 0 || image.height <= 0) return std::nullopt;
    const std::size_t width = static_cast<std::size_t>(image.width);
    const std::size_t height = static_cast<std::size_t>(image.height);
    // With 2x2 chroma subsampling every chroma sample covers exactly one source pixel.
    // Written in full below: no need to clear them first.
    const auto y = std::make_unique_for_overwrite<std::uint8_t[]>(4 * width * height);
    const auto cb = std::make_unique_for_overwrite<std::uint8_t[]>(width * height);
    const auto cr = std::make_unique_for_overwrite<std::uint8_t[]>(width * height);
    std::vector<std::uint8_t> lumaRow(width);
    for (std::size_t row = 0; row < height; ++row) {
        const std::uint8_t* source = image.pixels + row * static_cast<std::size_t>(image.stride);
        std::uint8_t* cbRow = cb.get() + row * width;
        std::uint8_t* crRow = cr.get() + row * width;
        convertRow(image.layout, source, width, lumaRow.data(), cbRow, crRow);
        std::uint8_t* top = y.get() + 2 * row * 2 * width;
        for (std::size_t x = 0; x < width; ++x) top[2 * x] = top[2 * x + 1] = lumaRow[x];
        std::memcpy(top + 2 * width, top, 2 * width);
    }
    std::unique_ptr<void, TjDestroy> compressor(tjInitCompress());
    if (!compressor) return std::nullopt;
    const unsigned char* planes[3] = {y.get(), cb.get(), cr.get()};
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
