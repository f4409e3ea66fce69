#include "command_line.h"

#include <gtest/gtest.h>

#include <tuple>

namespace tevoli::window {
namespace {

TEST(CommandLine, ModeChoiceAndWindowIds) {
    const struct {
        std::vector<std::string> args;
        ParseStatus status;
        CommandLine want;
    } cases[] = {
        {{"--bogus", "--ALL"}, ParseStatus::ok, {Mode::list, false, 0, ""}},
        {{"--all"}, ParseStatus::ok, {Mode::list, true, 0, ""}},
        {{"--all", "--capture", "42", "a b.jpg"}, ParseStatus::ok, {Mode::capture, true, 42, "a b.jpg"}},
        // --watch is looked for first: a broken --capture does not matter, a broken --watch does.
        {{"--capture", "--watch", "+7"}, ParseStatus::ok, {Mode::watch, false, 7, ""}},
        {{"--capture", "42", "out.jpg", "--watch"}, ParseStatus::watchUsage, {}},
        {{"--capture", "42"}, ParseStatus::captureUsage, {}},
        {{"--capture", "x", "out.jpg"}, ParseStatus::captureUsage, {}},
        // Window ids: decimal, unsigned 32-bit, one leading "+", "-" only before zeros.
        {{"--watch", "-0"}, ParseStatus::ok, {Mode::watch, false, 0, ""}},
        {{"--watch", "-000"}, ParseStatus::ok, {Mode::watch, false, 0, ""}},
        {{"--watch", "0042"}, ParseStatus::ok, {Mode::watch, false, 42, ""}},
        {{"--watch", "4294967295"}, ParseStatus::ok, {Mode::watch, false, 4294967295u, ""}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"tevoli-window"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        CommandLine got;
        ASSERT_EQ(parseCommandLine(args, got), c.status) << args[1];
        if (c.status != ParseStatus::ok) continue;
        EXPECT_EQ(std::tie(got.mode, got.listAll, got.windowId, got.dest),
                  std::tie(c.want.mode, c.want.listAll, c.want.windowId, c.want.dest))
            << args[1];
    }
    for (const char* bad : {"", "+", "-", "-1", "++1", "+-0", "12x", " 1", "0x10", "4294967296",
                            "99999999999999999999999", "١"}) {
        CommandLine got;
        EXPECT_EQ(parseCommandLine({"tevoli-window", "--watch", bad}, got), ParseStatus::watchUsage) << bad;
    }
}

}  // namespace
}  // namespace tevoli::window
