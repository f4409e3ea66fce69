#pragma once
#include "model_service.h"

namespace tevoli::llm {

// The model of a local server speaking the OpenAI-compatible chat API (llama.cpp's
// server, Ollama, LM Studio), found at the runtimes' well-known loopback addresses.
class LocalServerModel final : public ModelService {
public:
    LocalServerModel();
    ~LocalServerModel() override;
    LocalServerModel(const LocalServerModel&) = delete;
    LocalServerModel& operator=(const LocalServerModel&) = delete;

    ModelState availability() override;
    Generation generate(const std::string& system, const std::string& user) override;
};

}  // namespace tevoli::llm
