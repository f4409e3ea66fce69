// tevoli-apple-llm: JSON-lines language model server over a local model server.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "apple_llm_helper.h"
#include "line_reader.h"
#include "linux_model_service.h"

namespace {

void writeStandardOutput(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) std::exit(1);  // the host stopped reading: nobody is left to answer
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
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
