#include "linux_window_image.h"

#include <gtest/gtest.h>

#include <turbojpeg.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace tevoli::window {
namespace {

struct Decoded {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
    const std::uint8_t* at(int x, int y) const { return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3; }
};

Decoded decodeJpeg(const std::vector<std::uint8_t>& jpeg) {
    Decoded out;
    const std::unique_ptr<void, int (*)(tjhandle)> handle(tjInitDecompress(), tjDestroy);
    int subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(handle.get(), jpeg.data(), jpeg.size(), &out.width, &out.height, &subsampling,
                            &colorspace) != 0)
        return {};
    out.rgb.resize(static_cast<std::size_t>(out.width) * out.height * 3);
    if (tjDecompress2(handle.get(), jpeg.data(), jpeg.size(), out.rgb.data(), out.width, 0, out.height, TJPF_RGB, 0))
        return {};
    return out;
}

// Every pixel differs from its neighbours, so a misplaced one shows.
Image pattern(int width, int height) {
    std::vector<std::uint8_t> bytes;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            bytes.insert(bytes.end(), {static_cast<std::uint8_t>(x * 7), static_cast<std::uint8_t>(y * 5),
                                       static_cast<std::uint8_t>(x * 3 + y * 2), 0});
    return Image::of(width, height, std::move(bytes));
}

const std::uint8_t* pixel(const Image& image, int x, int y) {
    return image.pixels + static_cast<std::size_t>(y) * image.stride + x * 4;
}

TEST(Scaled, NearestNeighbourAndImagesShorterThanTheyClaim) {
    const Image source = pattern(3, 2);
    const auto odd = scaled(source, 5, 4);
    ASSERT_TRUE(odd);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) EXPECT_EQ(0, std::memcmp(pixel(*odd, x, y), pixel(source, x * 3 / 5, y / 2), 4));
    EXPECT_FALSE(scaled(source, 0, 4));
    Image short_ = Image::of(2, 2, std::vector<std::uint8_t>(16));
    short_.size = 15;
    EXPECT_FALSE(scaled(short_, 4, 4));
    EXPECT_EQ(encodeAtSize(short_, 4, 4).status, ImageFiles::Status::renderFailed);
}

TEST(EncodeAtSize, DoubledImageMatchesTheEnlargedOne) {
    // 5x3 is off the encoder's 8-pixel grid: the padding must not show in the picture.
    for (const auto& [width, height] : {std::pair{64, 48}, std::pair{5, 3}}) {
        const Image source = pattern(width, height);
        const Encoded encoded = encodeAtSize(source, width * 2, height * 2);
        ASSERT_EQ(encoded.status, ImageFiles::Status::ok);
        const auto decoded = decodeJpeg(encoded.jpeg);
        ASSERT_EQ(decoded.width, width * 2);
        ASSERT_EQ(decoded.height, height * 2);
        long long error = 0;
        for (int y = 0; y < height * 2; ++y) {
            for (int x = 0; x < width * 2; ++x) {
                const std::uint8_t* want = pixel(source, x / 2, y / 2);
                const std::uint8_t* got = decoded.at(x, y);
                error += std::abs(got[0] - want[2]) + std::abs(got[1] - want[1]) + std::abs(got[2] - want[0]);
            }
        }
        EXPECT_LT(static_cast<double>(error) / (width * height * 12), 3.0) << width;
    }
    EXPECT_EQ(decodeJpeg(encodeAtSize(pattern(64, 48), 100, 30).jpeg).width, 100);
}

}  // namespace
}  // namespace tevoli::window
