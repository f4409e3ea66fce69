// A window's own pixels through a Composite named pixmap: once the window is
// redirected its contents live off screen, so windows above it do not show.
#include <xcb/composite.h>
#include <xcb/xcb.h>

#include <cstring>

#include "linux_window_system.h"
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

// A connection that keeps one window redirected for as long as it lives.
class RedirectedWindow {
public:
    // On failure returns null and sets `error` to the reason.
    static std::unique_ptr<RedirectedWindow> open(xcb_window_t window, std::string& error) {
        auto x = XcbConnection::open(error);
        if (!x) return nullptr;
        const xcb_query_extension_reply_t* composite = xcb_get_extension_data(x->get(), &xcb_composite_id);
        if (composite == nullptr || !composite->present) {
            error = "the X server has no Composite extension";
            return nullptr;
        }
        free(xcb_composite_query_version_reply(x->get(), xcb_composite_query_version(x->get(), 0, 4), nullptr));
        XcbError failure(xcb_request_check(
            x->get(), xcb_composite_redirect_window_checked(x->get(), window, XCB_COMPOSITE_REDIRECT_AUTOMATIC)));
        if (failure) {
            error = xcbErrorName(*failure);
            return nullptr;
        }
        return std::make_unique<RedirectedWindow>(std::move(x), window);
    }

    RedirectedWindow(std::unique_ptr<XcbConnection> x, xcb_window_t window) : x_(std::move(x)), window_(window) {}

    struct Grab {
        std::optional<Image> image;
        std::string error;  // the X error name when there is no image
        bool gone = false;  // the window no longer exists
    };

    // The window's current contents, without its border.
    Grab grab() {
        xcb_connection_t* c = x_->get();
        XcbError error;
        xcb_generic_error_t* raw = nullptr;
        XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, xcb_get_geometry(c, window_), &raw));
        error.reset(raw);
        if (!geometry) return failed(error.get());
        const xcb_pixmap_t pixmap = xcb_generate_id(c);
        const auto named = xcb_composite_name_window_pixmap_checked(c, window_, pixmap);
        const auto imageCookie = xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, geometry->border_width,
                                               geometry->border_width, geometry->width, geometry->height, ~0u);
        error.reset(xcb_request_check(c, named));
        XcbReply<xcb_get_image_reply_t> reply(xcb_get_image_reply(c, imageCookie, &raw));
        if (!error) {
            error.reset(raw);
            xcb_free_pixmap(c, pixmap);
        } else {
            free(raw);
        }
        if (!reply) return failed(error.get());
        if (bitsPerPixel(*x_, reply->depth) != 32) return {std::nullopt, "unsupported pixel depth", false};
        Image image;
        image.width = geometry->width;
        image.height = geometry->height;
        image.stride = image.width * 4;
        const auto* data = xcb_get_image_data(reply.get());
        const std::size_t size = static_cast<std::size_t>(image.stride) * static_cast<std::size_t>(image.height);
        if (static_cast<std::size_t>(xcb_get_image_data_length(reply.get())) < size)
            return {std::nullopt, "short image", false};
        image.pixels.assign(data, data + size);
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
};

class LinuxWindowStream final : public WindowStream {
public:
    explicit LinuxWindowStream(std::unique_ptr<RedirectedWindow> window) : window_(std::move(window)) {}

    Grab grab() override {
        RedirectedWindow::Grab grab = window_->grab();
        if (grab.image) return {Status::frame, std::move(*grab.image)};
        // An unmapped window has no contents for now but may come back.
        return {grab.gone ? Status::stopped : Status::noFrame, {}};
    }

private:
    std::unique_ptr<RedirectedWindow> window_;
};

}  // namespace

Outcome<Image> LinuxWindowSystem::captureImage(const ShareableWindow& window) {
    std::string error;
    auto redirected = RedirectedWindow::open(window.id, error);
    if (!redirected) return {std::nullopt, error};
    RedirectedWindow::Grab grab = redirected->grab();
    return {std::move(grab.image), grab.error};
}

Outcome<std::unique_ptr<WindowStream>> LinuxWindowSystem::startStream(const ShareableWindow& window) {
    std::string error;
    auto redirected = RedirectedWindow::open(window.id, error);
    if (!redirected) return {std::nullopt, error};
    return {std::make_unique<LinuxWindowStream>(std::move(redirected)), {}};
}

}  // namespace tevoli::window
