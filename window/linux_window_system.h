#pragma once
#include <memory>

#include "merged_routes.h"
#include "window_system.h"

namespace tevoli::window {

class X11Route;

// The windows of every display system this desktop offers (X11, and a Wayland
// compositor's own route where one answers), merged into one list; JPEG files on disk.
class LinuxWindowSystem final : public WindowSystem {
public:
    LinuxWindowSystem();
    Outcome<std::vector<ShareableWindow>> shareableContent() override;
    std::optional<std::vector<ServerWindow>> windowServerList() override;
    std::vector<RunningApplication> runningApplications() override;
    Outcome<Image> captureImage(const ShareableWindow& window) override;
    Outcome<std::unique_ptr<WindowStream>> startStream(const ShareableWindow& window) override;
    Written writeJpeg(const Image& image, int width, int height, const std::string& path) override;

private:
    std::shared_ptr<X11Route> x11_;
    MergedRoutes routes_;
};

}  // namespace tevoli::window
