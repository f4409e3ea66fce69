#pragma once
#include <optional>
#include <string>
#include <vector>

#include "window_route.h"

namespace tevoli::window {

// Where the listing script hands its answer back: a method of ours that takes the
// windows as one JSON text.
inline constexpr const char* kListPath = "/org/tevoli/window/kwin";
inline constexpr const char* kListInterface = "org.tevoli.window.KWinList";
inline constexpr const char* kListMember = "Windows";

// A KWin script that walks the windows and calls kListMember on `busName` with them.
std::string listingScript(const std::string& busName);

// The script's answer as the windows of a listing: a native window under the hash of
// its internalId (the route's handle to capture it), an XWayland window under its XID.
// Nothing when the text is not the script's answer.
std::optional<std::vector<RouteWindow>> listedWindows(const std::string& json);

}  // namespace tevoli::window
