#pragma once
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tevoli {

// Replies and errors from xcb are malloc'd and released with free().
struct XcbFree {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, XcbFree>;
using XcbError = std::unique_ptr<xcb_generic_error_t, XcbFree>;

// One connection to the X server named by DISPLAY, with its first screen.
class XcbConnection {
public:
    // Connects; on failure returns null and sets `error` to a readable reason.
    static std::unique_ptr<XcbConnection> open(std::string& error);
    // Takes ownership of a healthy connection; use open().
    XcbConnection(xcb_connection_t* connection, const xcb_screen_t* screen, int screenNumber)
        : connection_(connection), screen_(screen), screenNumber_(screenNumber) {}
    ~XcbConnection();
    XcbConnection(const XcbConnection&) = delete;
    XcbConnection& operator=(const XcbConnection&) = delete;

    xcb_connection_t* get() const { return connection_; }
    xcb_window_t root() const { return screen_->root; }
    const xcb_screen_t& screen() const { return *screen_; }
    int screenNumber() const { return screenNumber_; }
    // The reason the connection broke, or empty while it is healthy.
    std::string brokenReason() const;

    // Interns all names in one round trip; an atom the server refuses is XCB_ATOM_NONE.
    std::vector<xcb_atom_t> atoms(const std::vector<const char*>& names) const;

private:
    xcb_connection_t* connection_;
    const xcb_screen_t* screen_;
    int screenNumber_;
};

struct XcbTree {
    xcb_window_t parent = XCB_WINDOW_NONE;
    std::vector<xcb_window_t> children;  // bottom to top of the stacking order
};
// The window's parent and children, or nothing when the window is gone.
std::optional<XcbTree> queryTree(const XcbConnection& x, xcb_window_t window);

// The X protocol's name of an error ("BadWindow", "BadMatch", ...).
std::string xcbErrorName(const xcb_generic_error_t& error);

// Text of a property reply's value (empty when the property is missing).
std::string propertyText(const xcb_get_property_reply_t* reply);

}  // namespace tevoli
