#include "watch.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>

#include "line_reader.h"

namespace tevoli::window {
namespace {

// Longer lines cannot name a usable path; they are skipped whole.
constexpr std::size_t kMaxCommandLength = 1 << 20;

}  // namespace

void runCapture(WindowStream& stream, FrameStore& store, std::chrono::milliseconds interval, std::stop_token until) {
    std::mutex lock;
    std::condition_variable_any wake;
    auto next = std::chrono::steady_clock::now();
    while (!until.stop_requested()) {
        WindowStream::Grab grab = stream.grab();
        if (grab.status == WindowStream::Status::stopped) {
            store.markStopped();
            return;
        }
        if (grab.status == WindowStream::Status::frame) store.offer(std::move(grab.image));
        // After a slow grab the next one starts at once, never two within one interval.
        next = std::max(next + interval, std::chrono::steady_clock::now());
        std::unique_lock<std::mutex> hold(lock);
        wake.wait_until(hold, until, next, [] { return false; });
    }
}

void serveCommands(int fd, FrameStore& store, const std::function<void(std::string_view)>& reply) {
    LineReader reader(fd, kMaxCommandLength);
    constexpr std::string_view shoot = "shoot ";
    while (auto line = reader.next()) {
        std::string_view text = line->text;
        if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
        if (text == "quit") return;
        if (!text.starts_with(shoot)) continue;
        const auto failure = store.snapshot(std::string(text.substr(shoot.size())));
        reply(failure ? "err " + *failure : std::string("ok"));
    }
}

}  // namespace tevoli::window
