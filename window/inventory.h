#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "window_system.h"

namespace tevoli::window {

std::optional<std::string> meetingLabel(const std::optional<std::string>& bundleId);
bool isJunkBundle(const std::optional<std::string>& bundleId);

// The JSON object of one window, keys in wire order.
std::string entry(std::uint32_t id, const std::string& app, const std::string& title, long long width,
                  long long height, bool meeting);

std::vector<std::string> sckEntries(const std::vector<ShareableWindow>& content, bool listAll);
std::vector<std::string> legacyEntries(const std::vector<ServerWindow>& windows,
                                       const std::vector<RunningApplication>& running, bool listAll);

// The listing line, line feed included.
std::string listingLine(const std::vector<std::string>& entries);

}  // namespace tevoli::window
