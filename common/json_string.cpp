#include "json_string.h"

#include <cstdio>

#include "utf8.h"

namespace tevoli {

std::string jsonString(std::string_view text, JsonStringForm form) {
    const bool shortControls = form != JsonStringForm::window;
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    forEachScalar(text, [&](char32_t c) {
        switch (c) {
            case U'"': out += "\\\""; return;
            case U'\\': out += "\\\\"; return;
            case U'/': if (form == JsonStringForm::reply) { out += "\\/"; return; } break;
            case U'\n': out += "\\n"; return;
            case U'\r': if (shortControls) { out += "\\r"; return; } break;
            case U'\t': if (shortControls) { out += "\\t"; return; } break;
            default: break;
        }
        if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            out += escape;
        } else {
            appendUtf8(out, c);
        }
    });
    out += '"';
    return out;
}

}  // namespace tevoli
