#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tevoli {

enum class PixelLayout { rgb, bgrx, rgbx };

// A view of packed 8-bit pixels, rows `stride` bytes apart.
struct PixelView {
    const std::uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
    PixelLayout layout = PixelLayout::rgb;
};

// The host's "quality 0.85" everywhere.
constexpr int kJpegQuality = 85;

// JPEG bytes of the image, or nothing when the encoder refuses it.
std::optional<std::vector<std::uint8_t>> encodeJpeg(const PixelView& image, int quality = kJpegQuality);

// Writes `bytes` to `path`, replacing an existing file; missing directories are not
// created. Returns the system's error text on failure.
std::optional<std::string> writeFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace tevoli
