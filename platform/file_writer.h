#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tevoli {

// Writes `bytes` to `path`, replacing an existing file; missing directories are not
// created. The file is whole or absent: a failed write leaves no file, an earlier one
// as it was, and no temporary file. Returns the system's error text on failure.
std::optional<std::string> writeFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace tevoli
