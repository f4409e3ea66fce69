#include "utf8.h"

namespace tevoli {

std::size_t decodeOneUtf8(std::string_view bytes, char32_t& scalar, std::size_t& badLength) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(0);
    badLength = 1;
    if (lead < 0x80) {
        scalar = lead;
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    char32_t value = lead & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < length; ++i) {
        if (i >= bytes.size()) return 0;
        const unsigned char b = byte(i);
        const bool ok = i == 1 ? (b >= low && b <= high) : (b >= 0x80 && b <= 0xBF);
        if (!ok) return 0;
        badLength = i + 1;
        value = (value << 6) | (b & 0x3F);
    }
    badLength = 1;
    scalar = value;
    return length;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

namespace {

// The Unicode white-space and line-break set: Zs, Zl, Zp, tab to carriage return, NEL.
bool isWhiteSpaceOrLineBreak(char32_t c) {
    return c == 0x20 || (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

}  // namespace

std::string trimmedUtf8(std::string_view bytes) {
    const std::string text = toValidUtf8(bytes);
    std::size_t begin = std::string::npos, end = 0;
    for (std::size_t at = 0; at < text.size();) {
        char32_t c = 0;
        std::size_t bad = 0;
        const std::size_t length = decodeOneUtf8(std::string_view(text).substr(at), c, bad);
        if (!isWhiteSpaceOrLineBreak(c)) {
            if (begin == std::string::npos) begin = at;
            end = at + length;
        }
        at += length;
    }
    return begin == std::string::npos ? std::string() : text.substr(begin, end - begin);
}

bool isBlankUtf8(std::string_view bytes) {
    bool blank = true;
    forEachScalar(bytes, [&](char32_t c) { blank = blank && isWhiteSpaceOrLineBreak(c); });
    return blank;
}

std::size_t completeUtf8Length(std::string_view bytes) {
    for (std::size_t back = 1; back <= 3 && back <= bytes.size(); ++back) {
        const auto byte = static_cast<unsigned char>(bytes[bytes.size() - back]);
        if ((byte & 0xC0) == 0x80) continue;  // a continuation: its lead lies further back
        const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return length > back ? bytes.size() - back : bytes.size();
    }
    return bytes.size();
}

std::string toValidUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    forEachScalar(bytes, [&](char32_t c) { appendUtf8(out, c); });
    return out;
}

}  // namespace tevoli
