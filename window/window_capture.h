#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "window_system.h"

namespace tevoli::window {

// `prefix` and the display's reason, "unknown" when it gave none.
std::string platformFailure(std::string_view prefix, const std::string& error);
std::string notFound(std::uint32_t id);
const ShareableWindow* findWindow(const std::vector<ShareableWindow>& content, std::uint32_t id);

// The size a window's frames are delivered at: its size in whole points, doubled.
int scaledSize(double points);

// Captures window `id` to a JPEG at `dest`; nothing on success, else the failure message.
std::optional<std::string> captureToFile(WindowSystem& system, std::uint32_t id, const std::string& dest);

}  // namespace tevoli::window
