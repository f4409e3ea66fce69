#pragma once
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "media_services.h"

namespace tevoli::frames {

// One line per image, in order, with one engine for the whole run.
// Returns the failure message, if any.
std::optional<std::string> runOcr(const std::vector<std::string>& images, MediaServices& services, std::ostream& out);

}  // namespace tevoli::frames
