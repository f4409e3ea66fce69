#pragma once
#include "window_system.h"

namespace tevoli::window {

// Windows of the X server named by DISPLAY, and JPEG files on disk. Every call opens its own connection,
// so calls from several threads never share one.
class LinuxWindowSystem final : public WindowSystem {
public:
    Outcome<std::vector<ShareableWindow>> shareableContent() override;
    std::optional<std::vector<ServerWindow>> windowServerList() override;
    std::vector<RunningApplication> runningApplications() override;
    Outcome<Image> captureImage(const ShareableWindow& window) override;
    Outcome<std::unique_ptr<WindowStream>> startStream(const ShareableWindow& window) override;
    Written writeJpeg(const Image& image, int width, int height, const std::string& path) override;
};

}  // namespace tevoli::window
