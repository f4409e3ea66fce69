// A window's own pixels: read from the screen when it shows the window whole, else
// through a Composite named pixmap, where the redirected window's contents live
// off screen and windows above it do not show.
#include <poll.h>
#include <xcb/composite.h>
#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "x11_route.h"
#include "xcb_connection.h"

namespace tevoli::window {
namespace {

int bitsPerPixel(const XcbConnection& x, uint8_t depth) {
    const xcb_setup_t* setup = xcb_get_setup(x.get());
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem > 0; xcb_format_next(&it)) {
        if (it.data->depth == depth) return it.data->bits_per_pixel;
    }
    return 0;
}

using Clock = std::chrono::steady_clock;
// A repaint is over once the window has been quiet this long...
constexpr std::chrono::milliseconds kRepaintQuiet{15};
// ...and an owner that does not repaint is not waited for longer than this.
constexpr std::chrono::milliseconds kRepaintLimit{250};

bool compositorRunning(const XcbConnection& x) {
    const std::string name = "_NET_WM_CM_S" + std::to_string(x.screenNumber());
    const xcb_atom_t selection = x.atoms({name.c_str()})[0];
    XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(x.get(), xcb_get_selection_owner(x.get(), selection), nullptr));
    return owner && owner->owner != XCB_WINDOW_NONE;
}

struct Rect {
    int x, y, width, height;
    bool overlaps(const Rect& o) const {
        return x < o.x + o.width && o.x < x + width && y < o.y + o.height && o.y < y + height;
    }
};

// Whether the screen shows the whole window right now: mapped, inside the screen
// and not overlapped by any top-level window stacked above it.
bool fullyShown(const XcbConnection& x, xcb_window_t window) {
    xcb_connection_t* c = x.get();
    XcbReply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
    XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
    XcbReply<xcb_translate_coordinates_reply_t> origin(
        xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, window, x.root(), 0, 0), nullptr));
    if (!attributes || !geometry || !origin || attributes->map_state != XCB_MAP_STATE_VIEWABLE) return false;
    const Rect shown{origin->dst_x, origin->dst_y, geometry->width, geometry->height};
    if (shown.x < 0 || shown.y < 0 || shown.x + shown.width > x.screen().width_in_pixels ||
        shown.y + shown.height > x.screen().height_in_pixels)
        return false;
    xcb_window_t topLevel = window;  // the root's child holding the window (its frame, under a manager)
    for (;;) {
        const auto up = queryTree(x, topLevel);
        if (!up) return false;
        if (up->parent == x.root()) break;
        topLevel = up->parent;
    }
    const auto stack = queryTree(x, x.root());
    if (!stack) return false;
    auto it = std::find(stack->children.begin(), stack->children.end(), topLevel);
    std::vector<std::pair<xcb_get_window_attributes_cookie_t, xcb_get_geometry_cookie_t>> above;
    for (it = it == stack->children.end() ? it : it + 1; it != stack->children.end(); ++it)
        above.emplace_back(xcb_get_window_attributes(c, *it), xcb_get_geometry(c, *it));
    bool covered = false;
    for (const auto& [attributesCookie, geometryCookie] : above) {
        XcbReply<xcb_get_window_attributes_reply_t> a(xcb_get_window_attributes_reply(c, attributesCookie, nullptr));
        XcbReply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(c, geometryCookie, nullptr));
        if (!a || !g || a->map_state != XCB_MAP_STATE_VIEWABLE || a->_class == XCB_WINDOW_CLASS_INPUT_ONLY) continue;
        const int border = 2 * g->border_width;
        covered = covered || shown.overlaps({g->x, g->y, g->width + border, g->height + border});
    }
    return !covered;
}

// Waits for the owner's repaint: a first damage event, then a moment without any.
void awaitRepaint(xcb_connection_t* c, uint8_t damageEvent) {
    const Clock::time_point start = Clock::now();
    std::optional<Clock::time_point> lastDamage;
    for (;;) {
        while (XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(c)}) {
            if ((event->response_type & 0x7f) == damageEvent) lastDamage = Clock::now();
        }
        const Clock::time_point now = Clock::now();
        Clock::time_point until = start + kRepaintLimit;
        if (lastDamage) until = std::min(until, *lastDamage + kRepaintQuiet);
        if (now >= until || xcb_connection_has_error(c)) return;
        pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now);
        ::poll(&fd, 1, static_cast<int>(wait.count()));
    }
}

// Without a compositing manager nobody kept the window's own contents: redirecting
// it starts from what the screen shows there and asks its owner to repaint. When
// something covers the window, Damage tells when that repaint has landed.
XcbError redirectAndSettle(const XcbConnection& x, xcb_window_t window, bool shown) {
    xcb_connection_t* c = x.get();
    const xcb_query_extension_reply_t* damage = xcb_get_extension_data(c, &xcb_damage_id);
    const bool settle = !shown && damage != nullptr && damage->present && !compositorRunning(x);
    xcb_damage_damage_t tracker = 0;
    if (settle) {
        free(xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), nullptr));
        tracker = xcb_generate_id(c);
        xcb_damage_create(c, tracker, window, XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
    }
    XcbError failure(xcb_request_check(
        c, xcb_composite_redirect_window_checked(c, window, XCB_COMPOSITE_REDIRECT_AUTOMATIC)));
    if (settle) {
        // The server's own copy of the screen is no damage: every event is the owner drawing.
        if (!failure) awaitRepaint(c, static_cast<uint8_t>(damage->first_event + XCB_DAMAGE_NOTIFY));
        xcb_damage_destroy(c, tracker);
        xcb_flush(c);
    }
    return failure;
}

// Reads one window's contents. A window the screen shows whole is read as it is;
// any other is redirected for as long as the grabber lives and read through a
// Composite named pixmap, so windows above it do not show.
class WindowGrabber {
public:
    // On failure returns null and sets `error` to the reason.
    static std::unique_ptr<WindowGrabber> open(xcb_window_t window, bool alwaysRedirect, std::string& error) {
        auto x = XcbConnection::open(error);
        if (!x) return nullptr;
        const bool shown = fullyShown(*x, window);
        if (shown && !alwaysRedirect) return std::make_unique<WindowGrabber>(std::move(x), window, false);
        const xcb_query_extension_reply_t* composite = xcb_get_extension_data(x->get(), &xcb_composite_id);
        if (composite == nullptr || !composite->present) {
            error = "the X server has no Composite extension";
            return nullptr;
        }
        free(xcb_composite_query_version_reply(x->get(), xcb_composite_query_version(x->get(), 0, 4), nullptr));
        if (XcbError failure = redirectAndSettle(*x, window, shown)) {
            error = xcbErrorName(*failure);
            return nullptr;
        }
        return std::make_unique<WindowGrabber>(std::move(x), window, true);
    }

    WindowGrabber(std::unique_ptr<XcbConnection> x, xcb_window_t window, bool redirected)
        : x_(std::move(x)), window_(window), redirected_(redirected) {}

    struct Grab {
        std::optional<Image> image;
        std::string error;  // the X error name when there is no image
        bool gone = false;  // the window no longer exists
    };

    // The window's current contents, without its border.
    Grab grab() {
        xcb_connection_t* c = x_->get();
        xcb_generic_error_t* raw = nullptr;
        XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, xcb_get_geometry(c, window_), &raw));
        XcbError error(raw);
        if (!geometry) return failed(error.get());
        // The named pixmap holds the border too; the window itself starts inside it.
        xcb_drawable_t source = window_;
        int16_t offset = 0;
        xcb_void_cookie_t named{};
        if (redirected_) {
            source = xcb_generate_id(c);
            offset = static_cast<int16_t>(geometry->border_width);
            named = xcb_composite_name_window_pixmap_checked(c, window_, source);
        }
        const auto imageCookie = xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, source, offset, offset,
                                               geometry->width, geometry->height, ~0u);
        if (redirected_) error.reset(xcb_request_check(c, named));
        XcbReply<xcb_get_image_reply_t> reply(xcb_get_image_reply(c, imageCookie, &raw));
        XcbError imageError(raw);
        if (redirected_ && !error) xcb_free_pixmap(c, source);
        if (!error) error = std::move(imageError);
        if (!reply) return failed(error.get());
        if (bitsPerPixel(*x_, reply->depth) != 32) return {std::nullopt, "unsupported pixel depth", false};
        Image image;
        image.width = geometry->width;
        image.height = geometry->height;
        image.stride = image.width * 4;
        image.pixels = xcb_get_image_data(reply.get());
        image.size = static_cast<std::size_t>(xcb_get_image_data_length(reply.get()));
        if (image.size < static_cast<std::size_t>(image.stride) * static_cast<std::size_t>(image.height))
            return {std::nullopt, "short image", false};
        image.storage = std::shared_ptr<const void>(std::move(reply));
        return {std::move(image), {}, false};
    }

private:
    Grab failed(const xcb_generic_error_t* error) const {
        if (error == nullptr) {
            std::string broken = x_->brokenReason();
            return {std::nullopt, broken, !broken.empty()};
        }
        const bool gone = error->error_code == XCB_WINDOW || error->error_code == XCB_DRAWABLE;
        return {std::nullopt, xcbErrorName(*error), gone};
    }

    std::unique_ptr<XcbConnection> x_;
    xcb_window_t window_;
    bool redirected_;
};

class LinuxWindowStream final : public WindowStream {
public:
    explicit LinuxWindowStream(std::unique_ptr<WindowGrabber> window) : window_(std::move(window)) {}

    Grab grab() override {
        WindowGrabber::Grab grab = window_->grab();
        if (grab.image) return {Status::frame, std::move(*grab.image)};
        // An unmapped window has no contents for now but may come back.
        return {grab.gone ? Status::stopped : Status::noFrame, {}};
    }

private:
    std::unique_ptr<WindowGrabber> window_;
};

}  // namespace

Outcome<Image> X11Route::captureImage(const RouteWindow& window) {
    std::string error;
    auto grabber = WindowGrabber::open(window.window.id, false, error);
    if (!grabber) return {std::nullopt, error};
    WindowGrabber::Grab grab = grabber->grab();
    return {std::move(grab.image), grab.error};
}

// The stream stays redirected: the window may be covered any time later.
Outcome<std::unique_ptr<WindowStream>> X11Route::startStream(const RouteWindow& window) {
    std::string error;
    auto grabber = WindowGrabber::open(window.window.id, true, error);
    if (!grabber) return {std::nullopt, error};
    return {std::make_unique<LinuxWindowStream>(std::move(grabber)), {}};
}

}  // namespace tevoli::window
