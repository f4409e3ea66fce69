#include "pending_buffer.h"

#include <unistd.h>

namespace tevoli::systemaudio {

namespace {

// Far above what steady capture hands over at a time (a fragment of about 15 ms).
constexpr std::size_t kKeptCapacity = 1 << 20;

}  // namespace

void PendingBuffer::append(const void* data, std::size_t size) {
    if (data == nullptr || size == 0) return;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::lock_guard guard(lock);
    pending.insert(pending.end(), bytes, bytes + size);
}

bool PendingBuffer::takeAll(std::vector<std::uint8_t>& out) {
    // The storage that held a stalled reader's backlog goes back, or the two buffers
    // would keep the longest stall's size for the rest of the run.
    if (out.capacity() > kKeptCapacity) std::vector<std::uint8_t>().swap(out);
    out.clear();
    std::lock_guard guard(lock);
    if (pending.empty()) return false;
    // Swapping hands the filled storage to the writer and keeps the writer's old
    // capacity for the IO thread, so steady capture allocates nothing.
    pending.swap(out);
    return true;
}

std::size_t PendingBuffer::size() const {
    std::lock_guard guard(lock);
    return pending.size();
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    std::size_t offset = 0;
    while (offset < size) {
        const ssize_t written = ::write(fd, data + offset, size - offset);
        if (written < 1) return false;
        offset += static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace tevoli::systemaudio
