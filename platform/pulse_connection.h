#pragma once
#include <pulse/pulseaudio.h>

#include <memory>
#include <string>

namespace tevoli {

// A connected PulseAudio context on its own threaded main loop (the loop's thread
// runs every callback). The server is the one libpulse finds by itself (PULSE_SERVER,
// the user's runtime folder); nothing is ever spawned.
class PulseConnection {
public:
    // Connects and waits until the context is ready. On failure returns null and
    // sets `error` to libpulse's own text.
    static std::unique_ptr<PulseConnection> open(const char* clientName, std::string& error);
    PulseConnection() = default;  // unconnected; use open()
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    pa_threaded_mainloop* loop() const { return loop_; }
    pa_context* context() const { return context_; }
    std::string lastError() const;

    // Waits, with the loop locked, until `operation` is done; callbacks must call
    // pa_threaded_mainloop_signal(loop, 0). Takes ownership of the operation.
    bool await(pa_operation* operation);

    // Holds the loop's lock for a scope (every call into libpulse needs it).
    class Lock {
    public:
        explicit Lock(const PulseConnection& c) : loop_(c.loop_) { pa_threaded_mainloop_lock(loop_); }
        ~Lock() { pa_threaded_mainloop_unlock(loop_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* loop_;
    };

private:
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
};

}  // namespace tevoli
