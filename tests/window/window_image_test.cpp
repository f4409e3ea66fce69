#include "window_image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "jpeg_test_util.h"

namespace tevoli::window {
namespace {

// A BGRX image whose pixel (x, y) has blue x, green y and red x + y (wrapping).
Image pattern(int width, int height) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * 4 * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &bytes[(static_cast<std::size_t>(y) * width + x) * 4];
            p[0] = static_cast<std::uint8_t>(x * 7);
            p[1] = static_cast<std::uint8_t>(y * 5);
            p[2] = static_cast<std::uint8_t>(x * 3 + y * 2);
            p[3] = 0;
        }
    }
    return Image::of(width, height, std::move(bytes));
}

TEST(Scaled, RepeatsPixelsByNearestNeighbour) {
    const Image source = pattern(3, 2);
    const auto doubled = scaled(source, 6, 4);
    ASSERT_TRUE(doubled);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(0, std::memcmp(&doubled->pixels[static_cast<std::size_t>(y) * 24 + x * 4],
                                     &source.pixels[static_cast<std::size_t>(y / 2) * 12 + (x / 2) * 4], 4));
    const auto odd = scaled(source, 5, 1);
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->pixels[4 * 4], source.pixels[2 * 4]);  // x 4 of 5 maps to source x 2
    EXPECT_FALSE(scaled(source, 0, 4));
    EXPECT_FALSE(scaled(Image{}, 4, 4));
    Image short_ = Image::of(2, 2, std::vector<std::uint8_t>(16));
    short_.size = 15;  // fewer bytes than it claims
    EXPECT_FALSE(scaled(short_, 4, 4));
}

TEST(EncodeAtSize, DoubledImageMatchesTheEnlargedOne) {
    const Image source = pattern(64, 48);
    const Encoded direct = encodeAtSize(source, 128, 96);
    ASSERT_EQ(direct.status, Encoded::Status::ok);
    const auto decoded = testing::decodeJpeg(direct.jpeg);
    ASSERT_EQ(decoded.width, 128);
    ASSERT_EQ(decoded.height, 96);
    long long error = 0;
    for (int y = 0; y < 96; ++y) {
        for (int x = 0; x < 128; ++x) {
            const std::uint8_t* want = &source.pixels[static_cast<std::size_t>(y / 2) * source.stride + (x / 2) * 4];
            const std::uint8_t* got = decoded.at(x, y);
            error += std::abs(got[0] - want[2]) + std::abs(got[1] - want[1]) + std::abs(got[2] - want[0]);
        }
    }
    EXPECT_LT(static_cast<double>(error) / (128 * 96 * 3), 3.0);
    // Sizes off the 8-pixel grid are padded inside the encoder, not in the picture.
    const Encoded odd = encodeAtSize(pattern(5, 3), 10, 6);
    ASSERT_EQ(odd.status, Encoded::Status::ok);
    const auto small = testing::decodeJpeg(odd.jpeg);
    EXPECT_EQ(small.width, 10);
    EXPECT_EQ(small.height, 6);
    // Any other size goes through the enlarged picture.
    const Encoded other = encodeAtSize(source, 100, 30);
    ASSERT_EQ(other.status, Encoded::Status::ok);
    EXPECT_EQ(testing::decodeJpeg(other.jpeg).width, 100);
    EXPECT_EQ(encodeAtSize(Image{}, 10, 10).status, Encoded::Status::renderFailed);
}

}  // namespace
}  // namespace tevoli::window
