#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tevoli::window {

struct SwayRect {
    int x = 0, y = 0, width = 0, height = 0;
};

// One window of sway's tree (a node with a pid).
struct SwayView {
    std::int64_t conId = 0;  // the container's id, sway's handle
    std::optional<std::int32_t> pid;
    std::string appId;  // the Wayland app id, or the X11 class of an XWayland window
    std::optional<std::string> title;
    std::optional<std::uint32_t> xid;  // an XWayland window's X11 id
    SwayRect rect;                     // in the output layout
    bool visible = false;              // on a workspace shown on an output, not behind a tab
    std::string output;                // the name of the output that holds it
    SwayRect outputRect;
};

// The windows of a `get_tree` reply, in tree order; nothing when it is not sway's JSON.
std::optional<std::vector<SwayView>> swayViews(const std::string& tree);

}  // namespace tevoli::window
