#pragma once
#include <string>

#include "dbus_connection.h"

namespace tevoli::window {

inline constexpr const char* kKwinService = "org.kde.KWin";

// The error's text as KWin or the bus gives it, its name when it has none.
inline std::string busErrorText(const DbusError& error) {
    return error.message.empty() ? error.name : error.message;
}

}  // namespace tevoli::window
