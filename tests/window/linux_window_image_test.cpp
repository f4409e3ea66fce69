#include "linux_window_image.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "file_writer.h"

namespace tevoli::window {
namespace {

using namespace std::string_literals;

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
    const std::unique_ptr<void, int (*)(tjhandle)> tj(tjInitDecompress(), tjDestroy);
    // Doubled, as windows are delivered (5x3 is off the encoder's 8-pixel grid: the
    // padding must not show), and resized, as a watched window's later frames are.
    const struct {
        int width, height, outWidth, outHeight;
    } cases[] = {{64, 48, 128, 96}, {5, 3, 10, 6}, {64, 48, 100, 30}};
    for (const auto& c : cases) {
        const Image source = pattern(c.width, c.height);
        const std::vector<std::uint8_t> jpeg = encodeAtSize(source, c.outWidth, c.outHeight).jpeg;
        int width = 0, height = 0, subsampling = 0, colorspace = 0;
        tjDecompressHeader3(tj.get(), jpeg.data(), jpeg.size(), &width, &height, &subsampling, &colorspace);
        ASSERT_EQ(std::pair(width, height), std::pair(c.outWidth, c.outHeight));
        std::vector<std::uint8_t> got(static_cast<std::size_t>(width) * height * 4);
        ASSERT_EQ(0, tjDecompress2(tj.get(), jpeg.data(), jpeg.size(), got.data(), width, 0, height,
                                   TJPF_BGRX, 0));
        long long error = 0;
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* want = source.pixels + y * c.height / height * source.stride;
            for (int x = 0; x < width; ++x)
                for (int i = 0; i < 3; ++i)
                    error += std::abs(got[(y * width + x) * 4 + i] - want[x * c.width / width * 4 + i]);
        }
        EXPECT_LT(static_cast<double>(error) / (width * height * 3), 3.0) << width;
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
    char dir[] = "/tmp/tevoli-write-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    EXPECT_TRUE(writeFileBytes(dir + "/cut\0.jpg"s, {1, 2}));
    EXPECT_TRUE(std::filesystem::is_empty(dir));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tevoli::window
