// tevoli-apple-llm: JSON-lines language model server over a local model server.
#include <unistd.h>

#include <csignal>

#include "apple_llm_helper.h"
#include "json_lines_server.h"
#include "linux_model_service.h"

int main() {
    std::signal(SIGPIPE, SIG_IGN);  // a host that stops reading ends the loop through the failed write
    tevoli::llm::LocalServerModel model;
    tevoli::llm::AppleLLMHelper helper(model);
    return tevoli::finish(tevoli::serveJsonLines(STDIN_FILENO, STDOUT_FILENO, helper.lineServer()), "");
}
