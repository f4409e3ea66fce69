#pragma once
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <stop_token>
#include <string>

namespace tevoli::systemaudio {

// The hand-over between the IO thread (appends) and the writer (takes everything).
// Unbounded on purpose: a slow reader must never make the IO thread wait or lose audio.
class PendingBuffer {
public:
    void append(const void* data, std::size_t size);
    // For the writer: swaps the pending bytes into `out` (emptied first) and counts
    // as writing until `written`; false when there were none.
    bool takeAll(std::string& out);
    void written();
    // For the writer: returns once bytes are pending or `stopping` is requested.
    void awaitBytes(std::stop_token stopping);
    // Nothing pending and nothing on its way out.
    bool drained() const;

private:
    mutable std::mutex mutex_;
    std::string bytes_;
    bool writing_ = false;
    bool waiting_ = false;
    std::condition_variable_any arrived_;
};

}  // namespace tevoli::systemaudio
