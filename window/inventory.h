#pragma once
#include <string>
#include <vector>

#include "window_system.h"

namespace tevoli::window {

// The listing's window entries, in the order of their source, from each of the two
// sources list mode has. `sck` names the shareable content, the normal source, with
// each window's owning identifier; `legacy` names the window server's own list, the
// fallback, where meeting windows are known by their owner's process.
std::vector<std::string> sckEntries(const std::vector<ShareableWindow>& content, bool listAll);
std::vector<std::string> legacyEntries(const std::vector<ServerWindow>& windows,
                                       const std::vector<RunningApplication>& running, bool listAll);

// The listing line, line feed included.
std::string listingLine(const std::vector<std::string>& entries);

}  // namespace tevoli::window
