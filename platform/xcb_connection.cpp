#include "xcb_connection.h"

#include <cstring>

namespace tevoli {
namespace {

std::string connectionErrorText(int code) {
    switch (code) {
        case XCB_CONN_ERROR: return "connection to the X server failed";
        case XCB_CONN_CLOSED_EXT_NOTSUPPORTED: return "X extension not supported";
        case XCB_CONN_CLOSED_MEM_INSUFFICIENT: return "out of memory";
        case XCB_CONN_CLOSED_REQ_LEN_EXCEED: return "X request length exceeded";
        case XCB_CONN_CLOSED_PARSE_ERR: return "cannot parse the display name";
        case XCB_CONN_CLOSED_INVALID_SCREEN: return "no such screen on the X server";
        default: return "X connection error " + std::to_string(code);
    }
}

}  // namespace

std::unique_ptr<XcbConnection> XcbConnection::open(std::string& error) {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (const int code = xcb_connection_has_error(connection)) {
        const char* display = std::getenv("DISPLAY");
        error = connectionErrorText(code) + " (DISPLAY=" + (display ? display : "") + ")";
        xcb_disconnect(connection);
        return nullptr;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && it.rem > 0; ++i) xcb_screen_next(&it);
    if (it.rem == 0) {
        error = connectionErrorText(XCB_CONN_CLOSED_INVALID_SCREEN);
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::make_unique<XcbConnection>(connection, it.data, screenNumber);
}

XcbConnection::~XcbConnection() { xcb_disconnect(connection_); }

std::string XcbConnection::brokenReason() const {
    const int code = xcb_connection_has_error(connection_);
    return code == 0 ? std::string() : connectionErrorText(code);
}

std::vector<xcb_atom_t> XcbConnection::atoms(const std::vector<const char*>& names) const {
    std::vector<xcb_intern_atom_cookie_t> cookies;
    cookies.reserve(names.size());
    for (const char* name : names)
        cookies.push_back(xcb_intern_atom(connection_, 0, static_cast<uint16_t>(std::strlen(name)), name));
    std::vector<xcb_atom_t> result;
    result.reserve(names.size());
    for (auto cookie : cookies) {
        XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection_, cookie, nullptr));
        result.push_back(reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE});
    }
    return result;
}

std::optional<XcbTree> queryTree(const XcbConnection& x, xcb_window_t window) {
    XcbReply<xcb_query_tree_reply_t> reply(xcb_query_tree_reply(x.get(), xcb_query_tree(x.get(), window), nullptr));
    if (!reply) return std::nullopt;
    const xcb_window_t* children = xcb_query_tree_children(reply.get());
    return XcbTree{reply->parent, {children, children + xcb_query_tree_children_length(reply.get())}};
}

std::string xcbErrorName(const xcb_generic_error_t& error) {
    static const char* const names[] = {
        "Success",  "BadRequest", "BadValue",    "BadWindow",   "BadPixmap", "BadAtom",
        "BadCursor", "BadFont",   "BadMatch",    "BadDrawable", "BadAccess", "BadAlloc",
        "BadColor", "BadGC",      "BadIDChoice", "BadName",     "BadLength", "BadImplementation"};
    if (error.error_code < sizeof names / sizeof names[0]) return names[error.error_code];
    return "X error " + std::to_string(error.error_code);
}

std::string propertyText(const xcb_get_property_reply_t* reply) {
    if (reply == nullptr || reply->format != 8) return {};
    const int length = xcb_get_property_value_length(reply);
    if (length <= 0) return {};
    return std::string(static_cast<const char*>(xcb_get_property_value(reply)), static_cast<std::size_t>(length));
}

}  // namespace tevoli
