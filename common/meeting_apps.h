#pragma once
#include <optional>
#include <string_view>

namespace tevoli {

// The meeting applications and browsers the host knows, by the identifiers that
// platform/app_identity.h translates running processes to.

// The name the detector reports for a running application: its whole identifier,
// matched exactly and case-sensitively.
std::optional<std::string_view> meetingAppName(std::string_view identifier);

// The label of a window that belongs to a meeting: as `meetingAppName`, except
// that the call applications match by their vendor's identifier prefix.
std::optional<std::string_view> meetingWindowLabel(std::string_view identifier);

}  // namespace tevoli
