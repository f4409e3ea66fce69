// Arbitrary command lines and watch-mode input: parsing never crashes, and the
// command loop answers every shot while writing no file (the store is stopped).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "command_line.h"
#include "watch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tevoli::window;
    const std::string input(reinterpret_cast<const char*>(data), size);

    std::vector<std::string> args{"tevoli-window"};
    std::size_t start = 0;
    for (std::size_t nul; (nul = input.find('\0', start)) != std::string::npos; start = nul + 1)
        args.push_back(input.substr(start, nul - start));
    args.push_back(input.substr(start));
    CommandLine commandLine;
    parseCommandLine(args, commandLine);

    int fds[2];
    if (pipe(fds) != 0) return 0;
    const bool written = size < 60000 && write(fds[1], data, size) == static_cast<ssize_t>(size);
    close(fds[1]);
    if (written) {
        struct NoFiles final : ImageFiles {
            Written writeJpeg(const Image&, int, int, const std::string&) override { __builtin_trap(); }
        };
        FrameStore store(std::make_shared<NoFiles>(), 2, 2, std::chrono::seconds(1));
        store.markStopped();
        int replies = 0;
        serveCommands(fds[0], store, [&](std::string_view line) {
            if (line != "err stopped") __builtin_trap();
            ++replies;
        });
    }
    close(fds[0]);
    return 0;
}
