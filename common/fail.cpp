#include "fail.h"

#include <cstdlib>

#include "ending.h"

namespace tevoli {

void fail(std::string_view prefix, std::string_view message) {
    std::exit(finish(Ending::failure(std::string(message)), prefix));
}

}  // namespace tevoli
