#include "owner_identity.h"

#include "app_identity.h"

namespace tevoli::window {

std::optional<std::string> OwnerIdentities::of(std::optional<std::int32_t> pid, const std::string& fallbackName) {
    if (pid && *pid > 0) {
        auto [it, added] = known_.try_emplace(*pid);
        if (added) it->second = appIdentifier(*pid);
        if (it->second) return it->second;
    }
    if (fallbackName.empty()) return std::nullopt;
    return appIdentifierOfName(fallbackName);
}

}  // namespace tevoli::window
