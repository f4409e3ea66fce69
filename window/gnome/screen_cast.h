#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "dbus_connection.h"

namespace tevoli::window {

// A screen cast of one window by Mutter, from CreateSession to the PipeWire node that
// carries it; stopped when this goes. Mutter ends it too when the window closes, and
// when our bus connection does.
class ScreenCast {
public:
    // Starts a cast of the window with Mutter's `windowId`; on failure returns null
    // and sets `error` to the reason.
    static std::unique_ptr<ScreenCast> ofWindow(DbusConnection& bus, std::uint64_t windowId,
                                                DbusConnection::Clock::time_point deadline, std::string& error);
    ~ScreenCast();
    ScreenCast(const ScreenCast&) = delete;
    ScreenCast& operator=(const ScreenCast&) = delete;

    std::uint32_t node() const { return node_; }
    // Whether Mutter has ended the cast (the window closed, or the Shell went away);
    // reads what the bus has brought meanwhile, without waiting.
    bool ended();

private:
    explicit ScreenCast(DbusConnection& bus) : bus_(bus) {}

    DbusConnection& bus_;
    std::string session_;
    std::uint32_t node_ = 0;
    bool ended_ = false;
    std::unique_ptr<DbusConnection::Subscription> nodeAdded_, sessionClosed_, mutterGone_;
};

}  // namespace tevoli::window
