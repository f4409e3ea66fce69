#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace tevoli::window {

// The owning application's identifier for the windows of one listing, looked up once
// per process: through the process where the display names one (as detect does), else
// the name the display gives (a Wayland app id, an X11 class) through the same table.
class OwnerIdentities {
public:
    std::optional<std::string> of(std::optional<std::int32_t> pid, const std::string& fallbackName = "");

private:
    std::map<std::int32_t, std::optional<std::string>> known_;
};

}  // namespace tevoli::window
