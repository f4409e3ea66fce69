#include "jpeg_doubled.h"

// jpeglib.h needs FILE and size_t declared first.
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>

namespace tevoli {
namespace {

// The JFIF colour transform in 16-bit fixed point, rounded as libjpeg rounds it.
inline std::uint8_t luma(int r, int g, int b) {
    return static_cast<std::uint8_t>((19595 * r + 38470 * g + 7471 * b + 32768) >> 16);
}
inline std::uint8_t blueDifference(int r, int g, int b) {
    return static_cast<std::uint8_t>((-11059 * r - 21709 * g + 32768 * b + (128 << 16) + 32767) >> 16);
}
inline std::uint8_t redDifference(int r, int g, int b) {
    return static_cast<std::uint8_t>((32768 * r - 27439 * g - 5329 * b + (128 << 16) + 32767) >> 16);
}

// One source row to luma and chroma. The channel offsets are constants so that
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
    }
}

// libjpeg reports failures by calling error_exit, which must not return.
struct ErrorJump {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void jumpOut(j_common_ptr info) { std::longjmp(reinterpret_cast<ErrorJump*>(info->err)->jump, 1); }
void stayQuiet(j_common_ptr) {}  // standard error carries nothing but our own failure lines

std::size_t roundUp(std::size_t value, std::size_t step) { return (value + step - 1) / step * step; }

// With 2x2 chroma subsampling every chroma sample of the doubled picture covers
// exactly one source pixel: one band of 8 source rows makes the 16 luma and 8
// chroma rows libjpeg takes at a time.
constexpr int kBandRows = 8;

struct Band {
    Band(std::size_t width)
        : lumaWidth(roundUp(2 * width, 16)),
          chromaWidth(roundUp(width, 8)),
          luma(2 * kBandRows * lumaWidth),
          cb(kBandRows * chromaWidth),
          cr(kBandRows * chromaWidth),
          row(width) {
        for (int i = 0; i < kBandRows; ++i) {
            lumaRows[2 * i] = luma.data() + 2 * i * lumaWidth;
            lumaRows[2 * i + 1] = luma.data() + (2 * i + 1) * lumaWidth;
            cbRows[i] = cb.data() + i * chromaWidth;
            crRows[i] = cr.data() + i * chromaWidth;
        }
    }

    // Fills band row `i` from one source row; the padding repeats the last pixel.
    void fill(int i, PixelLayout layout, const std::uint8_t* source) {
        const std::size_t width = row.size();
        convertRow(layout, source, width, row.data(), cbRows[i], crRows[i]);
        std::uint8_t* top = lumaRows[2 * i];
        for (std::size_t x = 0; x < width; ++x) top[2 * x] = top[2 * x + 1] = row[x];
        std::fill(top + 2 * width, top + lumaWidth, row[width - 1]);
        std::fill(cbRows[i] + width, cbRows[i] + chromaWidth, cbRows[i][width - 1]);
        std::fill(crRows[i] + width, crRows[i] + chromaWidth, crRows[i][width - 1]);
        std::memcpy(lumaRows[2 * i + 1], top, lumaWidth);
    }

    std::size_t lumaWidth, chromaWidth;
    std::vector<JSAMPLE> luma, cb, cr;
    std::vector<std::uint8_t> row;
    JSAMPROW lumaRows[2 * kBandRows];
    JSAMPROW cbRows[kBandRows];
    JSAMPROW crRows[kBandRows];
};

}  // namespace

std::optional<std::vector<std::uint8_t>> encodeJpegDoubled(const PixelView& image, int quality) {
    if (image.pixels == nullptr || image.width <= 0 || image.height <= 0) return std::nullopt;
    const std::size_t width = static_cast<std::size_t>(image.width);
    Band band(width);
    jpeg_compress_struct encoder{};
    ErrorJump errors{};
    encoder.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jumpOut;
    errors.manager.output_message = stayQuiet;
    unsigned char* output = nullptr;
    unsigned long size = 0;
    // Nothing with a destructor may be created between here and the last libjpeg call.
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_compress(&encoder);
        std::free(output);
        return std::nullopt;
    }
    jpeg_create_compress(&encoder);
    jpeg_mem_dest(&encoder, &output, &size);
    encoder.image_width = 2 * static_cast<JDIMENSION>(image.width);
    encoder.image_height = 2 * static_cast<JDIMENSION>(image.height);
    encoder.input_components = 3;
    encoder.in_color_space = JCS_YCbCr;
    jpeg_set_defaults(&encoder);
    jpeg_set_quality(&encoder, quality, TRUE);
    encoder.raw_data_in = TRUE;
    encoder.dct_method = JDCT_ISLOW;
    encoder.comp_info[0].h_samp_factor = encoder.comp_info[0].v_samp_factor = 2;
    for (int c = 1; c < 3; ++c) encoder.comp_info[c].h_samp_factor = encoder.comp_info[c].v_samp_factor = 1;
    jpeg_start_compress(&encoder, TRUE);
    JSAMPARRAY planes[3] = {band.lumaRows, band.cbRows, band.crRows};
    for (int first = 0; first < image.height; first += kBandRows) {
        for (int i = 0; i < kBandRows; ++i) {
            const int row = std::min(first + i, image.height - 1);  // the last band repeats the bottom row
            band.fill(i, image.layout, image.pixels + static_cast<std::size_t>(row) * static_cast<std::size_t>(image.stride));
        }
        jpeg_write_raw_data(&encoder, planes, 2 * kBandRows);
    }
    jpeg_finish_compress(&encoder);
    jpeg_destroy_compress(&encoder);
    std::vector<std::uint8_t> bytes(output, output + size);
    std::free(output);
    if (bytes.empty()) return std::nullopt;
    return bytes;
}

}  // namespace tevoli
