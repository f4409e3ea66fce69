#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace tevoli {

// Calls `visit(char32_t)` for every Unicode scalar of `bytes`. Ill-formed input is
// read as U+FFFD, one per maximal ill-formed subpart, as the platform text APIs do.
template <typename Visit>
void forEachScalar(std::string_view bytes, Visit visit);

// `bytes` with every ill-formed sequence replaced by U+FFFD.
std::string toValidUtf8(std::string_view bytes);

// `bytes` as valid UTF-8 without the Unicode white space and line breaks around it.
std::string trimmedUtf8(std::string_view bytes);

// Whether `bytes` holds nothing but Unicode white space and line breaks.
bool isBlankUtf8(std::string_view bytes);

// The length of `bytes` less a sequence cut short at its end, which more bytes may complete.
std::size_t completeUtf8Length(std::string_view bytes);

// Appends the UTF-8 encoding of a scalar.
void appendUtf8(std::string& out, char32_t scalar);

// Length of the well-formed sequence at the start of `bytes`, or 0 when it is ill-formed;
// `scalar` receives its value.
std::size_t decodeOneUtf8(std::string_view bytes, char32_t& scalar, std::size_t& badLength);

template <typename Visit>
void forEachScalar(std::string_view bytes, Visit visit) {
    while (!bytes.empty()) {
        char32_t scalar = 0;
        std::size_t bad = 0;
        std::size_t n = decodeOneUtf8(bytes, scalar, bad);
        if (n == 0) {
            visit(char32_t{0xFFFD});
            bytes.remove_prefix(bad);
        } else {
            visit(scalar);
            bytes.remove_prefix(n);
        }
    }
}

}  // namespace tevoli
