#pragma once
#include <string_view>

namespace tevoli {

// Writes every byte to `fd`, continuing short and interrupted writes; false once a
// write fails (errno tells why).
bool writeAll(int fd, std::string_view bytes);

}  // namespace tevoli
