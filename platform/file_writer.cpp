#include "file_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "write_all.h"

namespace tevoli {
namespace {

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

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
