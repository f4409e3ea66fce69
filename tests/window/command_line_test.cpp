#include "command_line.h"

#include <gtest/gtest.h>

#include <tuple>

namespace tevoli::window {
namespace {

TEST(WindowId, OnePlusAndNegativeZeroOnly) {
    for (const auto& [text, id] : std::vector<std::pair<const char*, std::uint32_t>>{
             {"+42", 42}, {"-0", 0}, {"-000", 0}, {"0042", 42}, {"4294967295", 4294967295u}})
        EXPECT_EQ(parseWindowId(text), id) << text;
    for (const char* bad : {"", "+", "-", "-1", "++1", "+-0", "12x", " 1", "0x10", "4294967296",
                            "99999999999999999999999", "١"})
        EXPECT_FALSE(parseWindowId(bad).has_value()) << bad;
}

TEST(CommandLine, ModeChoice) {
    struct Case {
        std::vector<std::string> args;
        ParseStatus status;
        CommandLine want;
    };
    const std::vector<Case> cases{
        {{"--bogus", "--ALL"}, ParseStatus::ok, {Mode::list, false, 0, ""}},
        {{"--all"}, ParseStatus::ok, {Mode::list, true, 0, ""}},
        {{"--capture", "42", "dir/out file.jpg"}, ParseStatus::ok, {Mode::capture, false, 42, "dir/out file.jpg"}},
        // --watch is looked for first: a broken --capture does not matter, a broken --watch does.
        {{"--capture", "--watch", "+7"}, ParseStatus::ok, {Mode::watch, false, 7, ""}},
        {{"--capture", "42", "out.jpg", "--watch"}, ParseStatus::watchUsage, {}},
        {{"--watch", "4294967296"}, ParseStatus::watchUsage, {}},
        {{"--capture", "42"}, ParseStatus::captureUsage, {}},
        {{"--capture", "x", "out.jpg"}, ParseStatus::captureUsage, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"tevoli-window"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        CommandLine got;
        ASSERT_EQ(parseCommandLine(args, got), c.status) << args[1];
        if (c.status != ParseStatus::ok) continue;
        EXPECT_EQ(std::tie(got.mode, got.listAll, got.windowId, got.dest),
                  std::tie(c.want.mode, c.want.listAll, c.want.windowId, c.want.dest))
            << args[1];
    }
}

}  // namespace
}  // namespace tevoli::window
