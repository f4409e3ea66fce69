#pragma once
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tevoli::systemaudio {

// The hand-over between the IO thread (appends) and the writer (takes everything).
// Unbounded on purpose: a slow reader must never make the IO thread wait or lose audio.
class PendingBuffer {
public:
    void append(const void* data, std::size_t size);
    // Swaps the pending bytes into `out` (emptied first); false when there were none.
    bool takeAll(std::vector<std::uint8_t>& out);
    std::size_t size() const;

private:
    mutable std::mutex lock;
    std::vector<std::uint8_t> pending;
};

// Writes every byte to `fd`, continuing short writes; false as soon as a write fails.
bool writeAll(int fd, const std::uint8_t* data, std::size_t size);

}  // namespace tevoli::systemaudio
