#pragma once
#include <cstddef>
#include <mutex>
#include <string>

namespace tevoli::systemaudio {

// The hand-over between the IO thread (appends) and the writer (takes everything).
// Unbounded on purpose: a slow reader must never make the IO thread wait or lose audio.
class PendingBuffer {
public:
    void append(const void* data, std::size_t size);
    // Swaps the pending bytes into `out` (emptied first); false when there were none.
    bool takeAll(std::string& out);
    std::size_t size() const;

private:
    mutable std::mutex mutex_;
    std::string bytes_;
};

}  // namespace tevoli::systemaudio
