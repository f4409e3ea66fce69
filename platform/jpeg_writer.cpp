#include "jpeg_writer.h"

#include <fcntl.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "write_all.h"

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
        case PixelLayout::rgbx: return TJPF_RGBX;
    }
    return TJPF_RGB;
}

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

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

std::optional<std::string> writeFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    // open() would stop at a NUL byte and write a file nobody named.
    if (path.find('\0') != std::string::npos) return std::string(std::strerror(EINVAL));
    Fd file{::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)};
    if (file.fd < 0) return std::string(std::strerror(errno));
    if (!writeAll(file.fd, {reinterpret_cast<const char*>(bytes.data()), bytes.size()})) {
        return std::string(std::strerror(errno));
    }
    const int fd = file.fd;
    file.fd = -1;
    if (::close(fd) != 0) return std::string(std::strerror(errno));
    return std::nullopt;
}

}  // namespace tevoli
