#include "window_program.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "inventory.h"
#include "watch.h"
#include "window_capture.h"
#include "write_all.h"

namespace tevoli::window {
namespace {

using Clock = std::chrono::steady_clock;

// Display calls and timeouts race; the first to offer a value decides and later
// offers are dropped. Shared with the threads, which may outlive the run.
template <typename T>
class FirstOf {
public:
    void offer(T value) {
        std::lock_guard<std::mutex> hold(lock_);
        if (value_) return;
        value_ = std::move(value);
        arrived_.notify_all();
    }
    std::optional<T> waitUntil(Clock::time_point deadline) {
        std::unique_lock<std::mutex> hold(lock_);
        arrived_.wait_until(hold, deadline, [this] { return value_.has_value(); });
        return value_;
    }
    // Whatever came by `deadline`, else `late`.
    T firstBy(Clock::time_point deadline, T late) {
        std::unique_lock<std::mutex> hold(lock_);
        arrived_.wait_until(hold, deadline, [this] { return value_.has_value(); });
        if (!value_) value_ = std::move(late);
        return *value_;
    }

private:
    std::mutex lock_;
    std::condition_variable arrived_;
    std::optional<T> value_;
};

template <typename Work>
void inBackground(Work work) {
    std::thread(std::move(work)).detach();
}

std::vector<std::string> fallbackEntries(WindowSystem& system, bool listAll) {
    const auto windows = system.windowServerList();
    if (!windows) return {};
    return legacyEntries(*windows, system.runningApplications(), listAll);
}

Ending listMode(bool listAll, const std::shared_ptr<WindowSystem>& system, const Timeouts& timeouts) {
    const auto start = Clock::now();
    auto listing = std::make_shared<FirstOf<std::string>>();
    inBackground([=] {
        const auto content = system->shareableContent();
        listing->offer(listingLine(content.value ? sckEntries(*content.value, listAll)
                                                 : fallbackEntries(*system, listAll)));
    });
    if (auto line = listing->waitUntil(start + timeouts.list)) return {0, *line, {}};
    inBackground([=] { listing->offer(listingLine(fallbackEntries(*system, listAll))); });
    return {0, listing->firstBy(start + timeouts.listLastResort, listingLine({})), {}};
}

Ending captureMode(std::uint32_t id, const std::string& dest, const std::shared_ptr<WindowSystem>& system,
                   const Timeouts& timeouts) {
    const auto start = Clock::now();
    auto failure = std::make_shared<FirstOf<std::optional<std::string>>>();
    inBackground([=] { failure->offer(captureToFile(*system, id, dest)); });
    const auto message = failure->firstBy(start + timeouts.start, "timeout");
    return message ? Ending::failure(*message) : Ending{};
}

// A watched window's running stream, or why there is none.
struct Watched {
    std::shared_ptr<WindowStream> stream;
    int width = 0;
    int height = 0;
    std::string failure;
};

Watched notWatched(std::string failure) { return {nullptr, 0, 0, std::move(failure)}; }

Watched startWatching(WindowSystem& system, std::uint32_t id) {
    const auto content = system.shareableContent();
    if (!content.value) return notWatched(platformFailure("shareable content: ", content.error));
    const ShareableWindow* window = findWindow(*content.value, id);
    if (!window) return notWatched(notFound(id));
    auto stream = system.startStream(*window);
    if (!stream.value) return notWatched(platformFailure("start: ", stream.error));
    return {std::move(*stream.value), scaledSize(window->width), scaledSize(window->height), {}};
}

// Each line in one write; a host that closed our output still ends us through "quit".
void writeLine(int fd, std::string_view line) { writeAll(fd, std::string(line) + "\n"); }

Ending watchMode(std::uint32_t id, const std::shared_ptr<WindowSystem>& system, int inFd, int outFd,
                 const Timeouts& timeouts) {
    const auto start = Clock::now();
    auto started = std::make_shared<FirstOf<Watched>>();
    inBackground([=] { started->offer(startWatching(*system, id)); });
    const Watched watched = started->firstBy(start + timeouts.start, notWatched("timeout"));
    if (!watched.stream) return Ending::failure(watched.failure);
    auto store = std::make_shared<FrameStore>(system, watched.width, watched.height, timeouts.frameWait);
    std::stop_source capturing;
    inBackground([stream = watched.stream, store, interval = timeouts.frameInterval, until = capturing.get_token()] {
        runCapture(*stream, *store, interval, until);
    });
    writeLine(outFd, "READY");
    serveCommands(inFd, *store, [outFd](std::string_view reply) { writeLine(outFd, reply); });
    capturing.request_stop();
    return {};
}

}  // namespace

Ending runWindowProgram(const CommandLine& commandLine, std::shared_ptr<WindowSystem> system, int inFd, int outFd,
                        const Timeouts& timeouts) {
    switch (commandLine.mode) {
        case Mode::list: return listMode(commandLine.listAll, system, timeouts);
        case Mode::capture: return captureMode(commandLine.windowId, commandLine.dest, system, timeouts);
        case Mode::watch: return watchMode(commandLine.windowId, system, inFd, outFd, timeouts);
    }
    return {};
}

}  // namespace tevoli::window
