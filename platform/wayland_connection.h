#pragma once
#include <wayland-client.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tevoli {

// A Wayland proxy released with its interface's destroy function (inline in the
// protocol headers, so it is passed on construction, not as a template argument).
template <typename T>
using WaylandProxy = std::unique_ptr<T, void (*)(T*)>;

// One connection to the compositor named by WAYLAND_DISPLAY, with the globals it
// announced. Waits are bounded: a compositor that stops answering is given up on.
class WaylandConnection {
public:
    struct Global {
        std::uint32_t name;
        std::string interface;
        std::uint32_t version;
    };
    using Clock = std::chrono::steady_clock;

    // Connects and reads the globals before `deadline`; on failure returns null and
    // sets `error` to the reason.
    static std::unique_ptr<WaylandConnection> open(Clock::time_point deadline, std::string& error);
    // Takes ownership of a connected display; use open().
    explicit WaylandConnection(wl_display* display) : display_(display) {}
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    wl_display* get() const { return display_; }
    const std::vector<Global>& globals() const { return globals_; }
    // Binds `global` at the lower of `version` and what the compositor offers.
    void* bind(const Global& global, const wl_interface& interface, std::uint32_t version) const;
    // The first global of `interface`, bound as above; null when there is none.
    void* bindFirst(const wl_interface& interface, std::uint32_t version) const;

    // Sends what is queued and handles events until `done` holds; false when the
    // deadline passed first or the connection broke.
    bool dispatchUntil(const std::function<bool()>& done, Clock::time_point deadline);
    // Everything sent so far has been handled by the compositor, its answers read.
    bool roundtrip(Clock::time_point deadline);
    // The reason the connection broke, or empty while it is healthy.
    std::string brokenReason() const;

private:
    wl_display* display_;
    WaylandProxy<wl_registry> registry_{nullptr, wl_registry_destroy};
    std::vector<Global> globals_;
};

}  // namespace tevoli
