#include "jpeg_writer.h"

#include <turbojpeg.h>

#include <memory>

namespace tevoli {
namespace {

struct TjDestroy {
    void operator()(void* handle) const { tjDestroy(handle); }
};
struct TjFree {
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};

int tjFormat(PixelLayout layout) {
    switch (layout) {
        case PixelLayout::rgb: return TJPF_RGB;
        case PixelLayout::bgrx: return TJPF_BGRX;
    }
    return TJPF_RGB;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> encodeJpeg(const PixelView& image, int quality) {
    if (image.pixels == nullptr || image.width <= 0 || image.height <= 0) return std::nullopt;
    std::unique_ptr<void, TjDestroy> compressor(tjInitCompress());
    if (!compressor) return std::nullopt;
    unsigned char* raw = nullptr;
    unsigned long size = 0;
    const int status = tjCompress2(compressor.get(), image.pixels, image.width, image.stride, image.height,
                                   tjFormat(image.layout), &raw, &size, TJSAMP_420, quality, TJFLAG_ACCURATEDCT);
    std::unique_ptr<unsigned char, TjFree> owned(raw);
    if (status != 0 || raw == nullptr || size == 0) return std::nullopt;
    return std::vector<std::uint8_t>(raw, raw + size);
}

}  // namespace tevoli
