#pragma once
#include <memory>
#include <string>
#include <vector>

#include "sway_tree.h"
#include "wayland_connection.h"
#include "window_system.h"
#include "wlr-screencopy-unstable-v1-client-protocol.h"

namespace tevoli::window {

// Copies regions of the outputs through wlr-screencopy: what an output shows there,
// windows above included (sway 1.7 offers no copy of one window's own pixels). One
// connection serves many copies.
// Compositors from wlroots 0.20 on offer ext-image-copy-capture-v1 with a
// foreign-toplevel source, which copies a window's own pixels whatever covers it or
// where it is; Debian 12's sway lacks it, so it is not built here.
class OutputCopier {
public:
    // Null when the compositor cannot be reached or offers no copying; `error` says why.
    static std::unique_ptr<OutputCopier> open(std::string& error);

    // The region of the named output, in the output's logical coordinates.
    Outcome<Image> copy(const std::string& output, const SwayRect& region);

    struct Output {
        WaylandProxy<wl_output> proxy{nullptr, wl_output_destroy};
        std::string name;
    };
    OutputCopier(std::unique_ptr<WaylandConnection> wayland, std::vector<std::unique_ptr<Output>> outputs,
                 WaylandProxy<wl_shm> shm,
                 WaylandProxy<zwlr_screencopy_manager_v1> manager);

private:
    // Declared first so that it closes last, after every proxy of it is gone.
    std::unique_ptr<WaylandConnection> wayland_;
    std::vector<std::unique_ptr<Output>> outputs_;
    WaylandProxy<wl_shm> shm_;
    WaylandProxy<zwlr_screencopy_manager_v1> manager_;
};

}  // namespace tevoli::window
