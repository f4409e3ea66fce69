#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "dbus_connection.h"
#include "window_system.h"

namespace tevoli::window {

// One window as our Shell extension reports it.
struct ShellWindow {
    std::uint64_t id = 0;  // Mutter's
    std::int32_t pid = 0;  // 0 when unknown
    std::string title;
    std::string wmClass;
    int x = 0, y = 0, width = 0, height = 0;  // the frame: what the user sees as the window
    int contentX = 0, contentY = 0;           // the frame's place in a screen cast of the window
    std::uint32_t clientType = 0;             // 1 for X11
    std::uint32_t xid = 0;                    // X11 windows only
};

// The application windows the Shell shows, from our extension; fails with the bus's
// error when no extension answers (not GNOME, not enabled, or a caller it refuses).
Outcome<std::vector<ShellWindow>> shellWindows(DbusConnection& bus, DbusConnection::Clock::time_point deadline);

}  // namespace tevoli::window
