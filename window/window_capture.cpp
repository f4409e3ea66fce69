#include "window_capture.h"

#include <cmath>

namespace tevoli::window {

std::string platformFailure(std::string_view prefix, const std::string& error) {
    return std::string(prefix) + (error.empty() ? std::string("unknown") : error);
}

std::string notFound(std::uint32_t id) { return "window " + std::to_string(id) + " not found"; }

const ShareableWindow* findWindow(const std::vector<ShareableWindow>& content, std::uint32_t id) {
    for (const ShareableWindow& window : content) {
        if (window.id == id) return &window;
    }
    return nullptr;
}

int scaledSize(double points) { return static_cast<int>(std::trunc(points)) * 2; }

std::optional<std::string> captureToFile(WindowSystem& system, std::uint32_t id, const std::string& dest) {
    const auto content = system.shareableContent();
    if (!content.value) return platformFailure("shareable content: ", content.error);
    const ShareableWindow* window = findWindow(*content.value, id);
    if (!window) return notFound(id);
    const Outcome<Image> captured = system.captureImage(*window);
    if (!captured.value) return platformFailure("capture: ", captured.error);
    const auto written = system.writeJpeg(*captured.value, scaledSize(window->width), scaledSize(window->height), dest);
    switch (written.failed) {
        case ImageFiles::Failed::nothing: return std::nullopt;
        case ImageFiles::Failed::write: return "write: " + written.error;
        case ImageFiles::Failed::render:
        case ImageFiles::Failed::encode: break;
    }
    return std::string("jpeg encode failed");
}

}  // namespace tevoli::window
