#pragma once
// Decoding helpers for checking the JPEGs the window program writes.
#include <turbojpeg.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tevoli::window::testing {

struct Decoded {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
    const std::uint8_t* at(int x, int y) const { return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3; }
};

inline Decoded decodeJpeg(const std::vector<std::uint8_t>& jpeg) {
    Decoded out;
    tjhandle handle = tjInitDecompress();
    int subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(handle, jpeg.data(), jpeg.size(), &out.width, &out.height, &subsampling, &colorspace) == 0) {
        out.rgb.resize(static_cast<std::size_t>(out.width) * out.height * 3);
        if (tjDecompress2(handle, jpeg.data(), jpeg.size(), out.rgb.data(), out.width, 0, out.height, TJPF_RGB, 0) != 0)
            out = Decoded{};
    }
    tjDestroy(handle);
    return out;
}

inline Decoded decodeJpegFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return decodeJpeg(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {}));
}

}  // namespace tevoli::window::testing
