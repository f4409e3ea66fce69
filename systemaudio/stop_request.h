#pragma once
#include <semaphore.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

#include "ending.h"

namespace tevoli::systemaudio {

// Every reason to stop (a signal, the output closing, the parent leaving, the capture
// dying) is handed to the main thread here, so the process exits on one thread only.
class StopRequest {
public:
    StopRequest() { sem_init(&posted_, 0, 0); }
    ~StopRequest() { sem_destroy(&posted_); }
    StopRequest(const StopRequest&) = delete;
    StopRequest& operator=(const StopRequest&) = delete;

    // The first reason given wins.
    void request(Ending ending) {
        {
            std::lock_guard guard(mutex_);
            if (!first_) first_ = std::move(ending);
        }
        sem_post(&posted_);
    }
    // Async-signal-safe: a stop by signal, which ends with status 0 whatever else
    // happens while the main thread wakes.
    void requestFromSignal() {
        signalled_ = true;
        sem_post(&posted_);
    }

    Ending wait() {
        while (sem_wait(&posted_) != 0) {
        }
        if (signalled_) return Ending{};
        std::lock_guard guard(mutex_);
        return first_.value_or(Ending{});
    }

private:
    sem_t posted_;
    std::mutex mutex_;
    std::optional<Ending> first_;
    std::atomic<bool> signalled_{false};
    static_assert(std::atomic<bool>::is_always_lock_free);
};

}  // namespace tevoli::systemaudio
