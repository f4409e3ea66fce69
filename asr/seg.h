#pragma once
#include <cstdint>
#include <exception>
#include <optional>
#include <string>

namespace tevoli::asr {

// One timed piece of recognised text, in milliseconds on the stream's timeline.
struct Seg {
    std::int64_t t0_ms = 0;
    std::int64_t t1_ms = 0;
    std::string text;
    std::optional<std::string> speaker;  // set only when a stream is finished
};

// The server's own error. Its text, as it appears after "begin failed: " or
// "feed failed: ", is the case name and the quoted message: msg("...").
class HelperError : public std::exception {
public:
    static HelperError msg(std::string message);
    const char* what() const noexcept override { return text_.c_str(); }

private:
    explicit HelperError(std::string text) : text_(std::move(text)) {}
    std::string text_;
};

}  // namespace tevoli::asr
