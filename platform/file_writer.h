#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tevoli {

// Writes `bytes` to `path`, replacing an existing file; missing directories are not
// created. Returns the system's error text on failure.
std::optional<std::string> writeFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace tevoli
