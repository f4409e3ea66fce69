#pragma once
#include <cstdint>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace tevoli {

// The value of one top-level field, as far as a request needs to tell it: null, a whole
// number that fits 64 bits, a string (to be moved from), an object or array, or
// anything else (a boolean, a fraction, a number beyond 64 bits).
struct JsonContainer {};
struct JsonOther {};
using JsonField = std::variant<std::nullptr_t, std::int64_t, std::string*, JsonContainer, JsonOther>;

// Reads `text` as exactly one JSON object and calls `field` with each top-level key and
// its value, in order; `field` returns false to refuse the line. What lies inside a
// container is skipped without being stored, however large or deeply nested. False when
// the text is not one object or `field` refused it.
bool readJsonFields(std::string_view text, const std::function<bool(const std::string& key, JsonField value)>& field);

// Moves a string field into `target`; null leaves it empty. False for any other value.
bool takeText(std::optional<std::string>& target, const JsonField& value);

// A request line of a JSON-lines server: one object with a string "op", whose other
// fields `field(request, key, value)` takes into the request, or refuses.
template <typename Request, typename Field>
std::optional<Request> readJsonRequest(std::string_view text, Field field) {
    Request request;
    std::optional<std::string> op;
    const bool read = readJsonFields(text, [&](const std::string& key, JsonField value) {
        return key == "op" ? takeText(op, value) : field(request, key, value);
    });
    if (!read || !op) return std::nullopt;
    request.op = std::move(*op);
    return request;
}

}  // namespace tevoli
