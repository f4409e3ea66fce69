#include "seg.h"

#include <cstdio>

namespace tevoli::asr {

namespace {

// The message as a double-quoted literal with backslash escapes.
std::string quoted(const std::string& message) {
    std::string out = "\"";
    for (const char c : message) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    char escape[16];
                    std::snprintf(escape, sizeof escape, "\\u{%X}", byte);
                    out += escape;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

}  // namespace

HelperError HelperError::msg(std::string message) { return HelperError("msg(" + quoted(message) + ")"); }

}  // namespace tevoli::asr
