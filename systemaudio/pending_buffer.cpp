#include "pending_buffer.h"

#include <unistd.h>

namespace tevoli::systemaudio {

void PendingBuffer::append(const void* data, std::size_t size) {
    if (data == nullptr || size == 0) return;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::lock_guard guard(lock);
    pending.insert(pending.end(), bytes, bytes + size);
}

bool PendingBuffer::takeAll(std::vector<std::uint8_t>& out) {
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
