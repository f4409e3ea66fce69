#pragma once
#include <semaphore.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

namespace tevoli::systemaudio {

// How the program ends: the exit status, and for a failure the message for `fail`.
struct Ending {
    int status = 0;
    std::string message;
};

// Every reason to stop (a signal, the output closing, the parent leaving, the capture
// dying) is handed to the main thread here, so the process exits on one thread only.
class StopRequest {
public:
    StopRequest() { sem_init(&posted, 0, 0); }
    ~StopRequest() { sem_destroy(&posted); }
    StopRequest(const StopRequest&) = delete;
    StopRequest& operator=(const StopRequest&) = delete;

    // The first reason given wins.
    void request(Ending ending) {
        {
            std::lock_guard guard(lock);
            if (!first) first = std::move(ending);
        }
        sem_post(&posted);
    }
    // Async-signal-safe: a stop by signal, which ends with status 0 whatever else
    // happens while the main thread wakes.
    void requestFromSignal() {
        signalled = true;
        sem_post(&posted);
    }

    Ending wait() {
        while (sem_wait(&posted) != 0) {
        }
        if (signalled) return Ending{};
        std::lock_guard guard(lock);
        return first.value_or(Ending{});
    }

private:
    sem_t posted;
    std::mutex lock;
    std::optional<Ending> first;
    std::atomic<bool> signalled{false};
    static_assert(std::atomic<bool>::is_always_lock_free);
};

}  // namespace tevoli::systemaudio
