#include "watch.h"

#include <algorithm>
#include <string>
#include <thread>

#include "line_reader.h"

namespace tevoli::window {
namespace {

// Longer lines cannot name a usable path; they are skipped whole.
constexpr std::size_t kMaxCommandLength = 1 << 20;

}  // namespace

void runCapture(WindowStream& stream, FrameStore& store, std::chrono::milliseconds interval) {
    auto next = std::chrono::steady_clock::now();
    for (;;) {
        WindowStream::Grab grab = stream.grab();
        if (grab.status == WindowStream::Status::stopped) {
            store.markStopped();
            return;
        }
        if (grab.status == WindowStream::Status::frame) store.offer(std::move(grab.image));
        // After a slow grab the next one starts at once, never two within one interval.
        next = std::max(next + interval, std::chrono::steady_clock::now());
        std::this_thread::sleep_until(next);
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
