// Preloaded by tevoli-systemaudio's end-to-end tests; acts in what runs the sound
// server's threaded loop: the program. Stopping the loop takes 50 ms longer, so a reply
// the loop dispatches while the program is ending finds a half-dismantled tap every
// time, not once in thousands of runs. A process that exits with a loop still running
// is aborted: exit's destructors would race the loop's thread.
#include <dlfcn.h>
#include <pulse/thread-mainloop.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <set>
#include <string_view>

namespace {

std::mutex mutex;
std::set<pa_threaded_mainloop*> running;

template <typename F>
F real(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// Stopping a loop, also by freeing it, waits first while the loop goes on.
void stopLate(pa_threaded_mainloop* loop) {
    std::lock_guard guard(mutex);
    if (running.erase(loop) > 0) usleep(50000);
}

void abortIfRunning() {
    std::lock_guard guard(mutex);
    if (running.empty()) return;
    constexpr std::string_view message = "loop_stop_watch: exit with the sound server's loop still running\n";
    [[maybe_unused]] ssize_t written = write(STDERR_FILENO, message.data(), message.size());
    std::abort();
}

}  // namespace

extern "C" int pa_threaded_mainloop_start(pa_threaded_mainloop* loop) {
    static const auto start = real<int (*)(pa_threaded_mainloop*)>("pa_threaded_mainloop_start");
    static const bool watching = std::atexit(abortIfRunning) == 0;
    const int result = start(loop);
    if (result >= 0 && watching) {
        std::lock_guard guard(mutex);
        running.insert(loop);
    }
    return result;
}

extern "C" void pa_threaded_mainloop_stop(pa_threaded_mainloop* loop) {
    stopLate(loop);
    real<void (*)(pa_threaded_mainloop*)>("pa_threaded_mainloop_stop")(loop);
}

extern "C" void pa_threaded_mainloop_free(pa_threaded_mainloop* loop) {
    stopLate(loop);
    real<void (*)(pa_threaded_mainloop*)>("pa_threaded_mainloop_free")(loop);
}
