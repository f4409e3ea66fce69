#include "wayland_connection.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tevoli {
namespace {

void announced(void* data, wl_registry*, std::uint32_t name, const char* interface, std::uint32_t version) {
    static_cast<std::vector<WaylandConnection::Global>*>(data)->push_back({name, interface, version});
}

void withdrawn(void* data, wl_registry*, std::uint32_t name) {
    auto& globals = *static_cast<std::vector<WaylandConnection::Global>*>(data);
    std::erase_if(globals, [name](const WaylandConnection::Global& g) { return g.name == name; });
}

const wl_registry_listener kRegistryListener{announced, withdrawn};

void callbackDone(void* data, wl_callback*, std::uint32_t) { *static_cast<bool*>(data) = true; }
const wl_callback_listener kCallbackListener{callbackDone};

}  // namespace

std::unique_ptr<WaylandConnection> WaylandConnection::open(Clock::time_point deadline, std::string& error) {
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        error = std::string("cannot connect to the Wayland display: ") + std::strerror(errno);
        return nullptr;
    }
    auto connection = std::make_unique<WaylandConnection>(display);
    connection->registry_.reset(wl_display_get_registry(display));
    wl_registry_add_listener(connection->registry_.get(), &kRegistryListener, &connection->globals_);
    if (!connection->roundtrip(deadline)) {
        error = connection->brokenReason();
        if (error.empty()) error = "the Wayland display did not answer";
        return nullptr;
    }
    return connection;
}

WaylandConnection::~WaylandConnection() {
    registry_.reset();
    wl_display_disconnect(display_);
}

void* WaylandConnection::bind(const Global& global, const wl_interface& interface, std::uint32_t version) const {
    return wl_registry_bind(registry_.get(), global.name, &interface, std::min(version, global.version));
}

void* WaylandConnection::bindFirst(const wl_interface& interface, std::uint32_t version) const {
    for (const Global& global : globals_) {
        if (global.interface == interface.name) return bind(global, interface, version);
    }
    return nullptr;
}

bool WaylandConnection::dispatchUntil(const std::function<bool()>& done, Clock::time_point deadline) {
    for (;;) {
        if (wl_display_dispatch_pending(display_) < 0) return false;
        if (done()) return true;
        while (wl_display_prepare_read(display_) != 0) {
            if (wl_display_dispatch_pending(display_) < 0) return false;
        }
        // Sends what is queued; a compositor that reads slowly gets the rest on the next turn.
        if (wl_display_flush(display_) < 0 && errno != EAGAIN) {
            wl_display_cancel_read(display_);
            return false;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd fd{wl_display_get_fd(display_), POLLIN, 0};
        const int ready = left.count() > 0 ? ::poll(&fd, 1, static_cast<int>(left.count())) : 0;
        if (ready <= 0) {
            wl_display_cancel_read(display_);
            if (ready < 0 && errno == EINTR) continue;
            return false;
        }
        if (wl_display_read_events(display_) < 0) return false;
    }
}

bool WaylandConnection::roundtrip(Clock::time_point deadline) {
    bool done = false;
    const WaylandProxy<wl_callback> sync(wl_display_sync(display_), wl_callback_destroy);
    wl_callback_add_listener(sync.get(), &kCallbackListener, &done);
    return dispatchUntil([&done] { return done; }, deadline);
}

std::string WaylandConnection::brokenReason() const {
    const int error = wl_display_get_error(display_);
    return error == 0 ? std::string() : std::strerror(error);
}

}  // namespace tevoli
