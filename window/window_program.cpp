#include "window_program.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "capture.h"
#include "fail.h"
#include "inventory.h"
#include "watch.h"

namespace tevoli::window {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kListTimeout{4000};
// The fallback list asks the same display; if that hangs too, an empty list is
// still better than no answer.
constexpr milliseconds kListLastResort{8000};
constexpr milliseconds kStartTimeout{8000};

// Handlers and timers race to end the process; the first one to get here wins and
// the others wait here until exit() ends them.
std::mutex& endingLock() {
    static std::mutex lock;
    return lock;
}

[[noreturn]] void endWith(std::string_view output) {
    endingLock().lock();
    std::fwrite(output.data(), 1, output.size(), stdout);
    std::exit(0);
}

[[noreturn]] void endWithFailure(std::string_view message) {
    endingLock().lock();
    fail("", message);
}

template <typename Work>
void after(milliseconds delay, Work work) {
    std::thread([delay, work] {
        std::this_thread::sleep_for(delay);
        work();
    }).detach();
}

[[noreturn]] void park() {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

std::vector<std::string> fallbackEntries(WindowSystem& system, bool listAll) {
    const auto windows = system.windowServerList();
    if (!windows) return {};
    return legacyEntries(*windows, system.runningApplications(), listAll);
}

[[noreturn]] void listMode(bool listAll, WindowSystem& system) {
    after(kListTimeout, [&system, listAll] { endWith(listingLine(fallbackEntries(system, listAll))); });
    after(kListLastResort, [] { endWith(listingLine({})); });
    std::thread([&system, listAll] {
        const auto content = system.shareableContent();
        endWith(listingLine(content.value ? sckEntries(*content.value, listAll) : fallbackEntries(system, listAll)));
    }).detach();
    park();
}

[[noreturn]] void captureMode(std::uint32_t id, const std::string& dest, WindowSystem& system) {
    after(kStartTimeout, [] { endWithFailure("timeout"); });
    std::thread([&system, id, dest] {
        if (auto failure = captureToFile(system, id, dest)) endWithFailure(*failure);
        endWith("");
    }).detach();
    park();
}

void writeLine(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Set once capture runs; the start timeout reads it.
struct ReadyFlag {
    std::mutex lock;
    bool ready = false;
};

// Everything shared lives on the stack of a thread that never returns: the main
// thread parks and the serving thread ends the process itself.
[[noreturn]] void watchMode(std::uint32_t id, WindowSystem& system) {
    ReadyFlag start;
    after(kStartTimeout, [&start] {
        std::lock_guard<std::mutex> hold(start.lock);
        if (!start.ready) endWithFailure("timeout");
    });
    std::thread([&system, &start, id] {
        const auto content = system.shareableContent();
        if (!content.value) endWithFailure(platformFailure("shareable content: ", content.error));
        const ShareableWindow* window = findWindow(*content.value, id);
        if (!window) endWithFailure(notFound(id));
        auto stream = system.startStream(*window);
        if (!stream.value) endWithFailure(platformFailure("start: ", stream.error));
        FrameStore store(system, scaledSize(window->width), scaledSize(window->height));
        std::thread([&stream, &store] { runCapture(**stream.value, store); }).detach();
        {
            std::lock_guard<std::mutex> hold(start.lock);
            start.ready = true;
        }
        writeLine("READY");
        serveCommands(0, store, writeLine);
        endWith("");
    }).detach();
    park();
}

}  // namespace

void runWindowProgram(const CommandLine& commandLine, WindowSystem& system) {
    switch (commandLine.mode) {
        case Mode::list: listMode(commandLine.listAll, system);
        case Mode::capture: captureMode(commandLine.windowId, commandLine.dest, system);
        case Mode::watch: watchMode(commandLine.windowId, system);
    }
    std::abort();
}

}  // namespace tevoli::window
