// A file appears whole or not at all: the bytes go to a file of our own in the
// destination's folder, which is renamed over the destination once written, so a
// full disk or an interrupted run never leaves a cut file or damages an earlier one.
#include "file_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "write_all.h"

namespace tevoli {
namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd& operator=(Fd&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    int get() const { return fd_; }
    // Closes now, so that a failure to flush the data is seen.
    bool close() { return ::close(std::exchange(fd_, -1)) == 0; }

private:
    int fd_;
};

std::string errorText() { return std::strerror(errno); }

// A name beside the destination that no host file has: hidden, and short enough
// for any folder that holds the destination.
std::string temporaryName(const std::string& folder) {
    static std::atomic<unsigned> made;
    return folder + "/.tevoli-" + std::to_string(::getpid()) + "-" + std::to_string(made++) + ".tmp";
}

// Calls `make` with fresh temporary names until one is not taken; the name made,
// or nothing with errno telling why.
template <typename Make>
std::optional<std::string> freshName(const std::string& folder, Make make) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = temporaryName(folder);
        if (make(name)) return name;
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

// Writes the bytes to a file that has no name until they are all in it, so no
// end of the program leaves a piece behind, and names it through /proc. Nothing
// when the file system, /proc or the write will not have it.
std::optional<std::string> writeUnnamed(const std::string& folder, std::string_view data, Fd& file) {
    file = Fd(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644));
    if (file.get() < 0 || !writeAll(file.get(), data)) return std::nullopt;
    const std::string self = "/proc/self/fd/" + std::to_string(file.get());
    return freshName(folder, [&](const std::string& name) {
        return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    });
}

// The error that stopped the write, once the temporary file is gone.
std::string removed(const std::string& temporary) {
    const std::string error = errorText();
    ::unlink(temporary.c_str());
    return error;
}

}  // namespace

std::optional<std::string> writeFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    // open() would stop at a NUL byte and write a file nobody named.
    if (path.find('\0') != std::string::npos) return std::string(std::strerror(EINVAL));
    const std::string_view data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::string folder = std::filesystem::path(path).parent_path().string();
    if (folder.empty()) folder = ".";

    Fd file;
    std::optional<std::string> temporary = writeUnnamed(folder, data, file);
    if (!temporary) {  // a named file then, whose failure is the one to tell
        temporary = freshName(folder, [&](const std::string& name) {
            file = Fd(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
            return file.get() >= 0;
        });
        if (!temporary) return errorText();
        if (!writeAll(file.get(), data)) return removed(*temporary);
    }
    if (!file.close() || ::rename(temporary->c_str(), path.c_str()) != 0) return removed(*temporary);
    return std::nullopt;
}

}  // namespace tevoli
