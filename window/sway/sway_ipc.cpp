// sway's IPC framing: the magic "i3-ipc", the payload's length and the message type
// (both 32 bits in the machine's byte order), then the payload.
#include "sway_ipc.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "unique_fd.h"

namespace tevoli::window {
namespace {

constexpr std::string_view kMagic = "i3-ipc";
constexpr std::size_t kHeader = kMagic.size() + 8;
// A tree of thousands of windows stays far below this; more is not sway talking.
constexpr std::uint32_t kMaxReply = 64u << 20;
constexpr timeval kPatience{3, 0};

std::string systemError(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

bool sendAll(int fd, const std::string& bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool receiveAll(int fd, char* into, std::size_t size) {
    for (std::size_t got = 0; got < size;) {
        const ssize_t n = ::recv(fd, into + got, size - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = ECONNRESET;
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

Outcome<std::string> swayRequest(const std::string& socketPath, std::uint32_t type, std::string_view payload) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path) return {std::nullopt, "no sway socket"};
    std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
    const UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket) return {std::nullopt, systemError("sway socket")};
    const int fd = socket.get();
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &kPatience, sizeof kPatience);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &kPatience, sizeof kPatience);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return {std::nullopt, systemError("sway socket")};

    std::string message(kMagic);
    const auto length = static_cast<std::uint32_t>(payload.size());
    message.append(reinterpret_cast<const char*>(&length), 4);
    message.append(reinterpret_cast<const char*>(&type), 4);
    message.append(payload);
    if (!sendAll(fd, message)) return {std::nullopt, systemError("sway request")};

    char header[kHeader];
    if (!receiveAll(fd, header, kHeader)) return {std::nullopt, systemError("sway reply")};
    std::uint32_t replyLength = 0, replyType = 0;
    std::memcpy(&replyLength, header + kMagic.size(), 4);
    std::memcpy(&replyType, header + kMagic.size() + 4, 4);
    if (std::string_view(header, kMagic.size()) != kMagic || replyType != type || replyLength > kMaxReply)
        return {std::nullopt, "sway reply: not an answer to the request"};
    std::string reply(replyLength, '\0');
    if (!receiveAll(fd, reply.data(), reply.size())) return {std::nullopt, systemError("sway reply")};
    return {std::move(reply), {}};
}

}  // namespace tevoli::window
