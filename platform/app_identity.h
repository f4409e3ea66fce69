#pragma once
#include <optional>
#include <string>
#include <vector>

namespace tevoli {

// Identifier the host expects for process `pid` (flatpak id, snap name, or exe base name,
// translated by the table), or nothing when it cannot be read. A process without a
// readable executable (kernel thread, zombie, another user's) has none.
std::optional<std::string> appIdentifier(int pid, const std::string& procRoot = "/proc");

// Identifier the host expects for an application known only by a name (a Wayland app id,
// an X11 class): the same table, the name itself when the table does not know it.
std::string appIdentifierOfName(const std::string& name);

// Ids of the processes listed in procRoot right now.
std::vector<int> processIds(const std::string& procRoot = "/proc");

}  // namespace tevoli
