#pragma once
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "line_reader.h"
#include "model_service.h"
#include "protocol.h"

namespace tevoli::llm {

// Longest request line read; a whole meeting transcript fits many times over.
inline constexpr std::size_t kMaxRequestBytes = 64u << 20;

struct Availability {
    bool available = false;
    std::optional<std::string> reason;  // set exactly when not available
};

using NextLine = std::function<std::optional<Line>()>;
using WriteBytes = std::function<void(std::string_view)>;

// The language model server: one JSON reply line per non-blank request line.
class AppleLLMHelper {
public:
    explicit AppleLLMHelper(ModelService& model) : model_(model) {}

    Availability availability();
    Reply generate(const std::string& system, const std::string& user);

    // The reply to one raw input line; nullopt for a blank line, which gets none.
    std::optional<Reply> respond(const Line& line);

    // Answers every line until the input ends.
    void serve(const NextLine& next, const WriteBytes& write);

    static void emit(const Reply& reply, const WriteBytes& write);

private:
    Reply status(const Request& request);
    Reply generateFor(const Request& request);

    ModelService& model_;
};

}  // namespace tevoli::llm
