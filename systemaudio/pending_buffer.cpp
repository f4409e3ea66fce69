#include "pending_buffer.h"

namespace tevoli::systemaudio {

namespace {

// Far above what steady capture hands over at a time (a fragment of about 15 ms).
constexpr std::size_t kKeptCapacity = 1 << 20;

}  // namespace

void PendingBuffer::append(const void* data, std::size_t size) {
    if (data == nullptr || size == 0) return;
    bool wake = false;
    {
        std::lock_guard guard(mutex_);
        bytes_.append(static_cast<const char*>(data), size);
        wake = waiting_;
    }
    // Only an idle writer is woken: one that is writing comes back for these anyway.
    if (wake) arrived_.notify_one();
}

void PendingBuffer::awaitBytes(std::stop_token stopping) {
    std::unique_lock guard(mutex_);
    waiting_ = true;
    arrived_.wait(guard, stopping, [this] { return !bytes_.empty(); });
    waiting_ = false;
}

bool PendingBuffer::takeAll(std::string& out) {
    // The storage that held a stalled reader's backlog goes back, or the two buffers
    // would keep the longest stall's size for the rest of the run.
    if (out.capacity() > kKeptCapacity) std::string().swap(out);
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
