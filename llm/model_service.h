#pragma once
#include <string>

namespace tevoli::llm {

// The states of the language model that the helper tells apart; the backend maps
// what it finds onto them and the helper words them for the user.
enum class ModelState {
    available,
    deviceNotEligible,
    appleIntelligenceNotEnabled,  // no model runtime answers at all
    modelNotReady,                // a runtime answers but has no model ready yet
    otherReason,
};

// The outcome of one prompt. `text` is the answer, or the failure's own description.
struct Generation {
    enum class Kind { answered, contextExceeded, failed };
    Kind kind = Kind::failed;
    std::string text;
};

// The language model behind the helper, so the protocol can be tested without one.
class ModelService {
public:
    virtual ~ModelService() = default;
    // Looked up afresh at every call: a model that finishes loading shows up at once.
    virtual ModelState availability() = 0;
    // A new conversation each time: nothing of an earlier prompt is sent. Blocks until
    // the model has answered or failed, however long that takes.
    virtual Generation generate(const std::string& system, const std::string& user) = 0;
};

}  // namespace tevoli::llm
