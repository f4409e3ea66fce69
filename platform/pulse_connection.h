#pragma once
#include <pulse/pulseaudio.h>

#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>

namespace tevoli {

// The sound server's default devices by name; empty where it has none.
struct PulseDefaults {
    std::string sink;
    std::string source;
};

// A connected PulseAudio context on its own threaded main loop (the loop's thread
// runs every callback). The server is the one libpulse finds by itself (PULSE_SERVER,
// the user's runtime folder); nothing is ever spawned.
class PulseConnection {
public:
    // Connects and waits until the context is ready; null when no server answers.
    static std::unique_ptr<PulseConnection> open(const char* clientName);
    PulseConnection() = default;  // unconnected; use open()
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // Joins the loop's thread, without the lock held: no callback runs afterwards, and
    // what is left is dismantled without the lock.
    void stop();

    pa_threaded_mainloop* loop() const { return loop_; }
    pa_context* context() const { return context_; }

    // Waits, with the loop locked, until `operation` is done; callbacks must call
    // pa_threaded_mainloop_signal(loop, 0). Takes ownership of the operation.
    bool await(pa_operation* operation);

    using DefaultsDone = std::function<void(std::optional<PulseDefaults>)>;
    // Asks for the defaults; `done` runs on the loop's thread, with nothing when the
    // query failed, never when the connection dies first. Call with the loop locked.
    void queryDefaults(DefaultsDone done);
    // The same, waited for: with the loop locked, from any thread but the loop's.
    std::optional<PulseDefaults> defaults();

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
    struct DefaultsQuery;

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    std::list<DefaultsQuery> queries_;
};

}  // namespace tevoli
