// Captured windows as JPEG files: doubled without building the enlarged picture,
// any other size by nearest neighbour.
#include "linux_window_image.h"

#include <cstring>
#include <optional>

#include "file_writer.h"
#include "jpeg_doubled.h"
#include "jpeg_writer.h"
#include "linux_window_system.h"

namespace tevoli::window {
namespace {

PixelView view(const Image& image) {
    return PixelView{image.pixels, image.width, image.height, image.stride, PixelLayout::bgrx};
}

bool holdsItsPixels(const Image& image) {
    return image.pixels != nullptr && image.width > 0 && image.height > 0 && image.stride >= image.width * 4 &&
           image.size >= static_cast<std::size_t>(image.stride) * static_cast<std::size_t>(image.height);
}

// `image` resized to width x height by nearest neighbour; nothing when either is empty.
std::optional<Image> scaled(const Image& image, int width, int height) {
    if (!holdsItsPixels(image) || width <= 0 || height <= 0) return std::nullopt;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * 4 * static_cast<std::size_t>(height));
    std::vector<std::uint32_t> row(static_cast<std::size_t>(width));
    std::vector<std::uint32_t> source(static_cast<std::size_t>(image.width));
    std::vector<std::uint32_t> column(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x)
        column[static_cast<std::size_t>(x)] = static_cast<std::uint32_t>(static_cast<long long>(x) * image.width / width);
    int previousRow = -1;
    for (int y = 0; y < height; ++y) {
        const int sourceRow = static_cast<int>(static_cast<long long>(y) * image.height / height);
        if (sourceRow != previousRow) {  // enlarging repeats rows: build each source row once
            std::memcpy(source.data(), image.pixels + static_cast<std::size_t>(sourceRow) * image.stride,
                        source.size() * 4);
            for (std::size_t x = 0; x < row.size(); ++x) row[x] = source[column[x]];
            previousRow = sourceRow;
        }
        std::memcpy(out.data() + static_cast<std::size_t>(y) * width * 4, row.data(), row.size() * 4);
    }
    return Image::of(width, height, std::move(out));
}

}  // namespace

Encoded encodeAtSize(const Image& image, int width, int height) {
    if (!holdsItsPixels(image) || width <= 0 || height <= 0) return {Encoded::Status::renderFailed, {}};
    std::optional<std::vector<std::uint8_t>> jpeg;
    if (width == 2 * image.width && height == 2 * image.height) {
        jpeg = encodeJpegDoubled(view(image));
    } else {
        const std::optional<Image> resized = scaled(image, width, height);
        if (!resized) return {Encoded::Status::renderFailed, {}};
        jpeg = encodeJpeg(view(*resized));
    }
    if (!jpeg) return {Encoded::Status::encodeFailed, {}};
    return {Encoded::Status::ok, std::move(*jpeg)};
}

ImageFiles::Written LinuxWindowSystem::writeJpeg(const Image& image, int width, int height, const std::string& path) {
    const Encoded encoded = encodeAtSize(image, width, height);
    if (encoded.status == Encoded::Status::renderFailed) return {Failed::render, {}};
    if (encoded.status == Encoded::Status::encodeFailed) return {Failed::encode, {}};
    if (auto error = writeFileBytes(path, encoded.jpeg)) return {Failed::write, *error};
    return {};
}

}  // namespace tevoli::window
