// Window facts from X11: EWMH and ICCCM properties, the X-Resource extension for
// the owning process, and /proc for its identifier.
#include <xcb/res.h>
#include <xcb/xcb.h>

#include <algorithm>

#include "owner_identity.h"
#include "x11_route.h"
#include "xcb_connection.h"

namespace tevoli::window {
namespace {

// The window types come last: every standard one, so that a type list can be read
// past a vendor's own types.
enum AtomIndex {
    kClientList, kWmCheck, kPid, kName, kUtf8String, kType, kState, kStateHidden, kTypeNormal, kTypeDialog
};

std::vector<xcb_atom_t> internAtoms(const XcbConnection& x) {
    return x.atoms({"_NET_CLIENT_LIST", "_NET_SUPPORTING_WM_CHECK", "_NET_WM_PID", "_NET_WM_NAME", "UTF8_STRING", "_NET_WM_WINDOW_TYPE",
                    "_NET_WM_STATE", "_NET_WM_STATE_HIDDEN", "_NET_WM_WINDOW_TYPE_NORMAL",
                    "_NET_WM_WINDOW_TYPE_DIALOG", "_NET_WM_WINDOW_TYPE_DESKTOP", "_NET_WM_WINDOW_TYPE_DOCK",
                    "_NET_WM_WINDOW_TYPE_TOOLBAR", "_NET_WM_WINDOW_TYPE_MENU", "_NET_WM_WINDOW_TYPE_UTILITY",
                    "_NET_WM_WINDOW_TYPE_SPLASH", "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
                    "_NET_WM_WINDOW_TYPE_POPUP_MENU", "_NET_WM_WINDOW_TYPE_TOOLTIP",
                    "_NET_WM_WINDOW_TYPE_NOTIFICATION", "_NET_WM_WINDOW_TYPE_COMBO", "_NET_WM_WINDOW_TYPE_DND"});
}

// Long enough for any real title; longer ones are cut.
constexpr uint32_t kTextLongs = 16384;

struct WindowFacts {
    xcb_window_t id = 0;
    bool exists = false;
    bool overrideRedirect = false;
    bool viewable = false;
    bool hidden = false;
    int layer = 0;
    double width = 0;
    double height = 0;
    std::optional<int32_t> pid;
    std::string className;
    std::optional<std::string> title;
};

std::string latin1ToUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The class part of WM_CLASS: the second of two NUL-terminated strings.
std::string classPart(const std::string& wmClass) {
    const std::size_t nul = wmClass.find('\0');
    if (nul == std::string::npos) return {};
    const std::string rest = wmClass.substr(nul + 1);
    return rest.substr(0, rest.find('\0'));
}

std::vector<xcb_atom_t> atomList(const xcb_get_property_reply_t* reply) {
    if (reply == nullptr || reply->format != 32 || reply->type != XCB_ATOM_ATOM) return {};
    const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
    return std::vector<xcb_atom_t>(atoms, atoms + xcb_get_property_value_length(reply) / 4);
}

// Ordinary application windows are layer 0, everything else (docks, menus,
// tooltips, override-redirect popups) sits above it. A window's type is the first
// standard type in its list: a vendor's own type may come before it.
int layerOf(const std::vector<xcb_atom_t>& types, bool overrideRedirect, const std::vector<xcb_atom_t>& atoms) {
    const auto standardTypes = atoms.begin() + kTypeNormal;
    const auto type = std::find_first_of(types.begin(), types.end(), standardTypes, atoms.end());
    if (type == types.end()) return overrideRedirect ? 1 : 0;
    return *type == atoms[kTypeNormal] || *type == atoms[kTypeDialog] ? 0 : 1;
}

xcb_get_property_cookie_t property(const XcbConnection& x, xcb_window_t w, xcb_atom_t name, xcb_atom_t type,
                                   uint32_t longs) {
    return xcb_get_property(x.get(), 0, w, name, type, 0, longs);
}

XcbReply<xcb_get_property_reply_t> propertyReply(const XcbConnection& x, xcb_get_property_cookie_t cookie) {
    return XcbReply<xcb_get_property_reply_t>(xcb_get_property_reply(x.get(), cookie, nullptr));
}

// Every fact of every window in one pipelined round trip, then the owners that
// did not name their process through X-Resource in a second one.
std::vector<WindowFacts> describe(const XcbConnection& x, const std::vector<xcb_atom_t>& atoms,
                                  const std::vector<xcb_window_t>& windows) {
    struct Cookies {
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_geometry_cookie_t geometry;
        xcb_get_property_cookie_t pid, wmClass, netName, wmName, type, state;
    };
    std::vector<Cookies> cookies;
    cookies.reserve(windows.size());
    for (xcb_window_t w : windows) {
        cookies.push_back({xcb_get_window_attributes(x.get(), w), xcb_get_geometry(x.get(), w),
                           property(x, w, atoms[kPid], XCB_ATOM_CARDINAL, 1),
                           property(x, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 1024),
                           property(x, w, atoms[kName], atoms[kUtf8String], kTextLongs),
                           property(x, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, kTextLongs),
                           property(x, w, atoms[kType], XCB_ATOM_ATOM, 64),
                           property(x, w, atoms[kState], XCB_ATOM_ATOM, 64)});
    }
    std::vector<WindowFacts> facts(windows.size());
    for (std::size_t i = 0; i < windows.size(); ++i) {
        WindowFacts& f = facts[i];
        f.id = windows[i];
        XcbReply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(x.get(), cookies[i].attributes, nullptr));
        XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(x.get(), cookies[i].geometry, nullptr));
        auto pid = propertyReply(x, cookies[i].pid);
        auto wmClass = propertyReply(x, cookies[i].wmClass);
        auto netName = propertyReply(x, cookies[i].netName);
        auto wmName = propertyReply(x, cookies[i].wmName);
        auto type = propertyReply(x, cookies[i].type);
        auto state = propertyReply(x, cookies[i].state);
        if (!attributes || !geometry) continue;  // gone meanwhile
        f.exists = true;
        f.overrideRedirect = attributes->override_redirect != 0;
        f.viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        const auto states = atomList(state.get());
        f.hidden = std::find(states.begin(), states.end(), atoms[kStateHidden]) != states.end();
        f.layer = layerOf(atomList(type.get()), f.overrideRedirect, atoms);
        f.width = geometry->width;
        f.height = geometry->height;
        if (pid && pid->format == 32 && xcb_get_property_value_length(pid.get()) >= 4)
            f.pid = *static_cast<const int32_t*>(xcb_get_property_value(pid.get()));
        f.className = classPart(propertyText(wmClass.get()));
        if (netName && netName->type == atoms[kUtf8String]) {
            f.title = propertyText(netName.get());
        } else if (wmName && wmName->type != XCB_ATOM_NONE && wmName->format == 8) {
            const std::string raw = propertyText(wmName.get());
            f.title = wmName->type == XCB_ATOM_STRING ? latin1ToUtf8(raw) : raw;
        }
    }

    const xcb_query_extension_reply_t* res = xcb_get_extension_data(x.get(), &xcb_res_id);
    if (res == nullptr || !res->present) return facts;
    free(xcb_res_query_version_reply(x.get(), xcb_res_query_version(x.get(), 1, 2), nullptr));
    std::vector<std::pair<std::size_t, xcb_res_query_client_ids_cookie_t>> queries;
    for (std::size_t i = 0; i < facts.size(); ++i) {
        if (!facts[i].exists || facts[i].pid) continue;
        const xcb_res_client_id_spec_t spec{facts[i].id, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
        queries.emplace_back(i, xcb_res_query_client_ids(x.get(), 1, &spec));
    }
    for (const auto& [i, cookie] : queries) {
        XcbReply<xcb_res_query_client_ids_reply_t> reply(xcb_res_query_client_ids_reply(x.get(), cookie, nullptr));
        if (!reply) continue;
        for (auto it = xcb_res_query_client_ids_ids_iterator(reply.get()); it.rem > 0;
             xcb_res_client_id_value_next(&it)) {
            if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) && it.data->length == 4) {
                facts[i].pid = static_cast<int32_t>(*xcb_res_client_id_value_value(it.data));
                break;
            }
        }
    }
    return facts;
}

std::vector<xcb_window_t> rootChildren(const XcbConnection& x) {
    auto tree = queryTree(x, x.root());
    return tree ? std::move(tree->children) : std::vector<xcb_window_t>{};
}

// Top-level client windows: the window manager's list, else the root's children.
std::vector<xcb_window_t> clientWindows(const XcbConnection& x, const std::vector<xcb_atom_t>& atoms,
                                        bool& fromWindowManager) {
    auto list = propertyReply(x, property(x, x.root(), atoms[kClientList], XCB_ATOM_WINDOW, 1u << 16));
    fromWindowManager = list && list->type == XCB_ATOM_WINDOW && list->format == 32;
    if (!fromWindowManager) {
        // A window manager without clients yet (XWayland's, say) may list none. Its own
        // windows (the check window's client made them) are no application's.
        auto check = propertyReply(x, property(x, x.root(), atoms[kWmCheck], XCB_ATOM_WINDOW, 1));
        std::vector<xcb_window_t> children = rootChildren(x);
        if (check && check->type == XCB_ATOM_WINDOW && xcb_get_property_value_length(check.get()) == 4) {
            const uint32_t clientBits = ~xcb_get_setup(x.get())->resource_id_mask;
            const uint32_t manager = *static_cast<const xcb_window_t*>(xcb_get_property_value(check.get())) & clientBits;
            std::erase_if(children, [&](xcb_window_t w) { return (w & clientBits) == manager; });
        }
        return children;
    }
    const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(list.get()));
    return std::vector<xcb_window_t>(ids, ids + xcb_get_property_value_length(list.get()) / 4);
}

}  // namespace

Outcome<std::vector<RouteWindow>> X11Route::windows() {
    std::string error;
    auto x = XcbConnection::open(error);
    if (!x) return {std::nullopt, error};
    const std::vector<xcb_atom_t> atoms = internAtoms(*x);
    bool fromWindowManager = false;
    const std::vector<xcb_window_t> ids = clientWindows(*x, atoms, fromWindowManager);
    OwnerIdentities identities;
    std::vector<RouteWindow> windows;
    for (const WindowFacts& f : describe(*x, atoms, ids)) {
        if (!f.exists || (!fromWindowManager && f.overrideRedirect)) continue;
        ShareableWindow w;
        w.id = f.id;
        w.layer = f.layer;
        w.width = f.width;
        w.height = f.height;
        if (f.pid) {
            w.bundleId = identities.of(*f.pid);
            w.appName = f.className;
        }
        w.title = f.title;
        w.onScreen = f.viewable && !f.hidden;
        windows.push_back({std::move(w), {}});
    }
    if (std::string broken = x->brokenReason(); !broken.empty()) return {std::nullopt, broken};
    return {std::move(windows), {}};
}

std::optional<std::vector<ServerWindow>> X11Route::serverList() {
    std::string error;
    auto x = XcbConnection::open(error);
    if (!x) return std::nullopt;
    std::vector<xcb_window_t> ids = rootChildren(*x);
    std::reverse(ids.begin(), ids.end());  // front to back, as the server stacks them
    std::vector<ServerWindow> windows;
    for (const WindowFacts& f : describe(*x, internAtoms(*x), ids)) {
        if (!f.exists || !f.viewable) continue;
        windows.push_back({f.pid, f.id, f.layer, f.width, f.height, f.className, f.title.value_or("")});
    }
    if (!x->brokenReason().empty()) return std::nullopt;
    return windows;
}

}  // namespace tevoli::window
