#pragma once
#include <string>
#include <vector>

#include "ending.h"
#include "media_services.h"

namespace tevoli::frames {

// One line per image, in order, with one engine for the whole run; or the failure.
Ending runOcr(const std::vector<std::string>& images, MediaServices& services);

}  // namespace tevoli::frames
