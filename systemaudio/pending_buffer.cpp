#include "pending_buffer.h"

namespace tevoli::systemaudio {

void PendingBuffer::append(const void* data, std::size_t size) {
    if (data == nullptr || size == 0) return;
    std::lock_guard guard(mutex_);
    bytes_.append(static_cast<const char*>(data), size);
}

bool PendingBuffer::takeAll(std::string& out) {
    out.clear();
    std::lock_guard guard(mutex_);
    if (bytes_.empty()) return false;
    // Swapping hands the filled storage to the writer and keeps the writer's old
    // capacity for the IO thread, so steady capture allocates nothing.
    bytes_.swap(out);
    writing_ = true;
    return true;
}

void PendingBuffer::written() {
    std::lock_guard guard(mutex_);
    writing_ = false;
}

bool PendingBuffer::drained() const {
    std::lock_guard guard(mutex_);
    return bytes_.empty() && !writing_;
}

}  // namespace tevoli::systemaudio
