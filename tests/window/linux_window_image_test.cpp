#include "linux_window_image.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <turbojpeg.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "file_writer.h"

namespace tevoli::window {
namespace {

// The RGB pixels of a JPEG file's bytes, and its size.
std::vector<std::uint8_t> decodeJpeg(const std::vector<std::uint8_t>& jpeg, int& width, int& height) {
    const std::unique_ptr<void, int (*)(tjhandle)> handle(tjInitDecompress(), tjDestroy);
    int subsampling = 0, colorspace = 0;
    tjDecompressHeader3(handle.get(), jpeg.data(), jpeg.size(), &width, &height, &subsampling, &colorspace);
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    EXPECT_EQ(tjDecompress2(handle.get(), jpeg.data(), jpeg.size(), rgb.data(), width, 0, height, TJPF_RGB, 0), 0);
    return rgb;
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

TEST(EncodeAtSize, DeliversThePictureAtTheAskedSize) {
    // Doubled, as windows are delivered (5x3 is off the encoder's 8-pixel grid: the
    // padding must not show), and resized, as a watched window's later frames are.
    const struct {
        int width, height, outWidth, outHeight;
    } cases[] = {{64, 48, 128, 96}, {5, 3, 10, 6}, {64, 48, 100, 30}};
    for (const auto& c : cases) {
        const Image source = pattern(c.width, c.height);
        const Encoded encoded = encodeAtSize(source, c.outWidth, c.outHeight);
        ASSERT_EQ(encoded.status, Encoded::Status::ok);
        int width = 0, height = 0;
        const auto rgb = decodeJpeg(encoded.jpeg, width, height);
        ASSERT_EQ(std::pair(width, height), std::pair(c.outWidth, c.outHeight));
        long long error = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const std::uint8_t* want = source.pixels + (y * c.height / height) * source.stride +
                                           (x * c.width / width) * 4;  // blue, green, red
                const std::uint8_t* got = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
                error += std::abs(got[0] - want[2]) + std::abs(got[1] - want[1]) + std::abs(got[2] - want[0]);
            }
        }
        EXPECT_LT(static_cast<double>(error) / (c.outWidth * c.outHeight * 3), 3.0) << c.outWidth;
    }
    // An image shorter than it claims is refused, not read past its end.
    Image short_ = Image::of(2, 2, std::vector<std::uint8_t>(16));
    short_.size = 15;
    EXPECT_EQ(encodeAtSize(short_, 4, 4).status, Encoded::Status::renderFailed);
    EXPECT_EQ(encodeAtSize(short_, 5, 4).status, Encoded::Status::renderFailed);
    EXPECT_EQ(encodeAtSize(pattern(2, 2), 0, 4).status, Encoded::Status::renderFailed);
}

// A NUL byte must not cut a path short and write a file nobody named.
TEST(WriteFileBytes, WritesWholePathsOnly) {
    const std::string dir = std::filesystem::temp_directory_path() / ("tevoli-write-" + std::to_string(getpid()));
    std::filesystem::create_directory(dir);
    EXPECT_TRUE(writeFileBytes(dir + "/cut" + std::string(1, '\0') + ".jpg", {1, 2}));
    EXPECT_EQ(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator());
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tevoli::window
