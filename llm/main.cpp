// tevoli-apple-llm: JSON-lines language model server over a local model server.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "apple_llm_helper.h"
#include "line_reader.h"
#include "linux_model_service.h"
#include "write_all.h"

namespace {

void writeStandardOutput(std::string_view bytes) {
    // The host stopped reading: nobody is left to answer.
    if (!tevoli::writeAll(STDOUT_FILENO, bytes)) std::exit(1);
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::signal(SIGPIPE, SIG_IGN);  // a closed output ends the loop through the failed write
    tevoli::llm::LocalServerModel model;
    tevoli::llm::AppleLLMHelper helper(model);
    tevoli::LineReader input(STDIN_FILENO, tevoli::llm::kMaxRequestBytes);
    helper.serve([&] { return input.next(); }, writeStandardOutput);
    return 0;
}
