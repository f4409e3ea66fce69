#include "screen_cast.h"

#include <cstring>

namespace tevoli::window {
namespace {

constexpr const char* kMutter = "org.gnome.Mutter.ScreenCast";
constexpr const char* kSession = "org.gnome.Mutter.ScreenCast.Session";
// Stopping is courtesy: Mutter stops the cast anyway once our connection closes.
constexpr std::chrono::milliseconds kStopWait{1000};

// The object path a call answered with, or the error.
std::string pathOf(DbusReply& reply, std::string& error) {
    const char* path = nullptr;
    if (!reply.message) {
        error = reply.error.message.empty() ? reply.error.name : reply.error.message;
        return {};
    }
    if (sd_bus_message_read(reply.message.get(), "o", &path) <= 0) {
        error = "the screen cast answered in another form";
        return {};
    }
    return path;
}

}  // namespace

std::unique_ptr<ScreenCast> ScreenCast::ofWindow(DbusConnection& bus, std::uint64_t windowId,
                                                 DbusConnection::Clock::time_point deadline, std::string& error) {
    std::unique_ptr<ScreenCast> cast(new ScreenCast(bus));
    DbusReply created = bus.call(deadline, kMutter, "/org/gnome/Mutter/ScreenCast", kMutter, "CreateSession", "a{sv}", 0);
    cast->session_ = pathOf(created, error);
    if (cast->session_.empty()) return nullptr;
    // Without the cursor, as a recording of the window's own contents.
    DbusReply recorded = bus.call(deadline, kMutter, cast->session_.c_str(), kSession, "RecordWindow", "a{sv}", 2,
                                  "window-id", "t", windowId, "cursor-mode", "u", 0u);
    const std::string stream = pathOf(recorded, error);
    if (stream.empty()) return nullptr;
    DbusError failed;
    ScreenCast* c = cast.get();
    cast->nodeAdded_ = bus.onSignal(kMutter, stream.c_str(), "org.gnome.Mutter.ScreenCast.Stream",
                                    "PipeWireStreamAdded", [c](sd_bus_message* m) {
                                        sd_bus_message_read(m, "u", &c->node_);
                                        return 0;
                                    }, failed);
    cast->sessionClosed_ = bus.onSignal(kMutter, cast->session_.c_str(), kSession, "Closed", [c](sd_bus_message*) {
        c->ended_ = true;
        return 0;
    }, failed);
    cast->mutterGone_ = bus.onSignal("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                     "NameOwnerChanged", [c](sd_bus_message* m) {
                                         const char *name = nullptr, *before = nullptr, *after = nullptr;
                                         if (sd_bus_message_read(m, "sss", &name, &before, &after) > 0 &&
                                             std::strcmp(name, kMutter) == 0 && *after == '\0')
                                             c->ended_ = true;
                                         return 0;
                                     }, failed);
    if (!cast->nodeAdded_ || !cast->sessionClosed_ || !cast->mutterGone_) {
        error = failed.message;
        return nullptr;
    }
    DbusReply started = bus.call(deadline, kMutter, cast->session_.c_str(), kSession, "Start");
    if (!started.message) {
        error = started.error.message.empty() ? started.error.name : started.error.message;
        return nullptr;
    }
    if (!bus.processUntil([c] { return c->node_ != 0 || c->ended_; }, deadline) || c->ended_) {
        error = c->ended_ ? "the screen cast ended at once" : "the screen cast did not start";
        return nullptr;
    }
    return cast;
}

bool ScreenCast::ended() {
    bus_.processUntil([this] { return ended_; }, DbusConnection::Clock::now());
    return ended_;
}

ScreenCast::~ScreenCast() {
    if (session_.empty() || ended_) return;
    bus_.call(DbusConnection::Clock::now() + kStopWait, kMutter, session_.c_str(), kSession, "Stop");
}

}  // namespace tevoli::window
