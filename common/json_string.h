#pragma once
#include <string>
#include <string_view>

namespace tevoli {

// The window program writes carriage return and tab as \u000d and \u0009; every
// other program uses the short escapes \r and \t. The servers' replies also escape
// the solidus as "\/", as the host's own JSON encoder does.
enum class JsonStringForm { standard, window, reply };

// The JSON string literal for `text`, quotes included. Ill-formed UTF-8 reads as U+FFFD.
std::string jsonString(std::string_view text, JsonStringForm form = JsonStringForm::standard);

}  // namespace tevoli
