#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "window_system.h"

namespace tevoli::window {

// One window as a route lists it: the facts the listing shows, and the route's own
// handle to find it again (sway's container id, KWin's internalId, Mutter's window id).
struct RouteWindow {
    ShareableWindow window;
    std::string handle;
};

// The windows of one display system: X11 (with the XWayland windows of a Wayland
// desktop), or one Wayland compositor. The Linux window system asks every route its
// desktop offers at once and merges their lists. What a route must do:
// - windows(): every top-level window it sees, with ids in the one id space of the
//   listing: an X11 or XWayland window under its XID, a native window under
//   nativeWindowId() of the compositor's handle, the same id on every call. An
//   XWayland window is listed under its XID; when X11 lists it too, X11's entry is
//   kept and captures go through X11. Facts as window_system.h describes them; the
//   owner's identifier through OwnerIdentities (owner_identity.h).
// - windows() is where the route talks to its server, and it may block: the window
//   system waits for a route only so long and lists the others' windows without it.
//   Making a route (its make function) looks at the environment only, never blocks,
//   and gives nothing when the route's desktop is plainly not there.
// - captureImage() and startStream() get a window of the route's latest list: its
//   pixels, unscaled, in the layout of `Image`. A window that cannot be copied fails
//   with the reason; never a picture of something else. A stream's grab says
//   `stopped` once the window is gone and `noFrame` while it cannot be copied.
// - Calls come from several threads at once, and a call stuck on its server is left
//   behind: keep no state between calls that a stuck call could spoil.
class WindowRoute {
public:
    virtual ~WindowRoute() = default;
    virtual Outcome<std::vector<RouteWindow>> windows() = 0;
    virtual Outcome<Image> captureImage(const RouteWindow& window) = 0;
    virtual Outcome<std::unique_ptr<WindowStream>> startStream(const RouteWindow& window) = 0;
};

// XIDs keep the top three bits clear; native windows have the top bit set and 31 bits
// from the compositor's handle: a number's low bits, a text's hash (FNV-1a).
constexpr std::uint32_t kNativeWindowBit = 0x80000000u;
constexpr std::uint32_t nativeWindowId(std::uint64_t handle) {
    return kNativeWindowBit | static_cast<std::uint32_t>(handle & 0x7fffffffu);
}
std::uint32_t nativeWindowId(std::string_view handle);

}  // namespace tevoli::window
