#include "window_route.h"

namespace tevoli::window {

std::uint32_t nativeWindowId(std::string_view handle) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : handle) hash = (hash ^ c) * 16777619u;
    return nativeWindowId(std::uint64_t{hash});
}

}  // namespace tevoli::window
