// Preloaded by tevoli-systemaudio's end-to-end tests; acts in what runs the sound
// server's threaded loop: the program. Stopping the loop takes 50 ms longer, so a reply
// the loop dispatches while the program is ending finds a half-dismantled tap every
// time, not once in thousands of runs. A process that exits with a loop still running
// is aborted: exit's destructors would race the loop's thread.
#include <dlfcn.h>
#include <pulse/thread-mainloop.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string_view>

namespace {

std::atomic<pa_threaded_mainloop*> running{nullptr};  // the program runs one loop

template <typename F>
F real(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// Stopping a loop, also by freeing it, waits first while the loop goes on.
void stopLate(pa_threaded_mainloop* loop) {
    if (running.compare_exchange_strong(loop, nullptr)) usleep(50000);
}

void abortIfRunning() {
    if (running == nullptr) return;
    constexpr std::string_view message = "loop_stop_watch: exit with the sound server's loop still running\n";
    [[maybe_unused]] ssize_t written = write(STDERR_FILENO, message.data(), message.size());
    std::abort();
}

}  // namespace

extern "C" int pa_threaded_mainloop_start(pa_threaded_mainloop* loop) {
    static const bool watching = std::atexit(abortIfRunning) == 0;
    const int result = real<int (*)(pa_threaded_mainloop*)>("pa_threaded_mainloop_start")(loop);
    if (result >= 0 && watching) running = loop;
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
