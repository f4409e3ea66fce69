#include "command_line.h"

#include <gtest/gtest.h>

namespace tevoli::window {
namespace {

ParseStatus parse(std::vector<std::string> rest, CommandLine& out) {
    rest.insert(rest.begin(), "tevoli-window");
    return parseCommandLine(rest, out);
}

TEST(WindowId, AcceptsDecimalsWithOnePlusAndNegativeZero) {
    EXPECT_EQ(parseWindowId("42"), 42u);
    EXPECT_EQ(parseWindowId("+42"), 42u);
    EXPECT_EQ(parseWindowId("-0"), 0u);
    EXPECT_EQ(parseWindowId("-000"), 0u);
    EXPECT_EQ(parseWindowId("0042"), 42u);
    EXPECT_EQ(parseWindowId("4294967295"), 4294967295u);
}

TEST(WindowId, RejectsEverythingElse) {
    for (const char* bad : {"", "+", "-", "-1", "++1", "+-0", "12x", " 1", "1 ", "0x10", "4294967296",
                            "99999999999999999999999", "1e3", "١"}) {
        EXPECT_FALSE(parseWindowId(bad).has_value()) << bad;
    }
}

TEST(CommandLine, ChoosesListModeAndAll) {
    CommandLine c;
    ASSERT_EQ(parse({}, c), ParseStatus::ok);
    EXPECT_EQ(c.mode, Mode::list);
    EXPECT_FALSE(c.listAll);
    ASSERT_EQ(parse({"--bogus"}, c), ParseStatus::ok);
    EXPECT_EQ(c.mode, Mode::list);
    ASSERT_EQ(parse({"--all"}, c), ParseStatus::ok);
    EXPECT_TRUE(c.listAll);
    ASSERT_EQ(parse({"--ALL"}, c), ParseStatus::ok);
    EXPECT_FALSE(c.listAll);
}

TEST(CommandLine, WatchIsLookedForFirst) {
    CommandLine c;
    ASSERT_EQ(parse({"--capture", "42", "out.jpg", "--watch", "7"}, c), ParseStatus::ok);
    EXPECT_EQ(c.mode, Mode::watch);
    EXPECT_EQ(c.windowId, 7u);
    // A broken --capture does not matter when --watch is valid.
    ASSERT_EQ(parse({"--capture", "--watch", "+42"}, c), ParseStatus::ok);
    EXPECT_EQ(c.windowId, 42u);
}

TEST(CommandLine, CaptureTakesIdAndDestinationVerbatim) {
    CommandLine c;
    ASSERT_EQ(parse({"--all", "--capture", "42", "dir/out file.jpg"}, c), ParseStatus::ok);
    EXPECT_EQ(c.mode, Mode::capture);
    EXPECT_EQ(c.windowId, 42u);
    EXPECT_EQ(c.dest, "dir/out file.jpg");
}

TEST(CommandLine, UsageErrors) {
    CommandLine c;
    EXPECT_EQ(parse({"--watch"}, c), ParseStatus::watchUsage);
    EXPECT_EQ(parse({"--watch", "12x"}, c), ParseStatus::watchUsage);
    EXPECT_EQ(parse({"--watch", "4294967296"}, c), ParseStatus::watchUsage);
    EXPECT_EQ(parse({"--capture", "42", "out.jpg", "--watch"}, c), ParseStatus::watchUsage);
    EXPECT_EQ(parse({"--capture", "42"}, c), ParseStatus::captureUsage);
    EXPECT_EQ(parse({"--capture", "x", "out.jpg"}, c), ParseStatus::captureUsage);
    EXPECT_EQ(parse({"--capture"}, c), ParseStatus::captureUsage);
}

}  // namespace
}  // namespace tevoli::window
