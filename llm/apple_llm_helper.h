#pragma once
#include "json_lines_server.h"
#include "llm_protocol.h"
#include "model_service.h"

namespace tevoli::llm {

// The language model server's operations: one reply to each request.
class AppleLLMHelper {
public:
    explicit AppleLLMHelper(ModelService& model) : model_(model) {}

    Reply handle(const Request& request);
    // The server's part in the shared JSON-lines loop.
    LineServer lineServer();

private:
    Reply status(const Request& request);
    Reply generate(const Request& request);

    ModelService& model_;
};

}  // namespace tevoli::llm
