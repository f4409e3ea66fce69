#include "inventory.h"

#include <gtest/gtest.h>

namespace tevoli::window {
namespace {

using namespace std::string_literals;

ShareableWindow window(std::uint32_t id, std::optional<std::string> bundle, double width, double height,
                       bool onScreen = true, std::optional<std::string> title = std::nullopt) {
    return {id, 0, width, height, std::move(bundle), "Editor", std::move(title), onScreen};
}

TEST(SckEntries, WhichWindowsAreListedWithoutAndWithAll) {
    ShareableWindow panel = window(15, "us.zoom.xos", 800, 600);
    panel.layer = 1;
    const struct {
        ShareableWindow window;
        std::size_t listed, listedWithAll;
    } rows[] = {
        // Size thresholds: 400x300 for meetings (matched by prefix), 200x200 for the others.
        {window(1, "us.zoom.xos", 400, 300), 1, 1},
        {window(6, "com.cisco.webex.x", 399, 300), 0, 0},
        {window(7, "com.cisco.webex.x", 400, 299.9), 0, 0},
        {window(8, "gedit", 200, 200), 0, 1},
        {window(9, "gedit", 199, 800), 0, 0},
        {window(10, "gedit", 800, 199.99), 0, 0},
        // Missing identifier, the host itself, junk prefixes.
        {window(11, std::nullopt, 800, 600), 0, 0},
        {window(12, TEVOLI_HOST_BUNDLE_ID, 800, 600), 0, 0},
        {window(13, "com.apple.dock.extra", 800, 600), 0, 0},
        {window(14, "com.apple.appkit.xpc", 800, 600), 0, 1},
        {panel, 0, 0},
        // Off screen and untitled needs 900x600.
        {window(16, "org.mozilla.firefox", 899, 600, false), 0, 0},
        {window(17, "org.mozilla.firefox", 900, 600, false), 1, 1},
        {window(18, "org.mozilla.firefox", 900, 599, false, ""), 0, 0},
        {window(19, "org.mozilla.firefox", 400, 300, false, "Meeting"), 1, 1},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(std::pair(sckEntries({row.window}, false).size(), sckEntries({row.window}, true).size()),
                  std::pair(row.listed, row.listedWithAll))
            << row.window.id;
    }
    // The entries: sizes truncated, an owner without a name is "App".
    ShareableWindow unnamed = window(2, "gedit", 1280.7, 720.2, true, "x");
    unnamed.appName = "";
    EXPECT_EQ(sckEntries({window(1, "us.zoom.xos", 400, 300), unnamed}, true),
              (std::vector<std::string>{
                  R"({"id":1,"app":"Zoom","title":"","width":400,"height":300,"meeting":true})",
                  R"({"id":2,"app":"App","title":"x","width":1280,"height":720,"meeting":false})"}));
}

TEST(LegacyEntries, MeetingByProcessAndExcludedOwners) {
    const std::vector<RunningApplication> running{
        {"us.zoom.xos", 10}, {std::nullopt, 11}, {"gedit", 12}, {"org.mozilla.firefox", 13}};
    const std::vector<ServerWindow> windows{
        {10, 1, 0, 1280, 720, "Dock", "Call"},  // meeting: listed whatever its owner name without --all
        {12, 2, 0, 800, 600, "Gedit", "notes"},
        {12, 3, 0, 800, 600, "Tevoli", ""},
        {std::nullopt, 4, 0, 800, 600, "Gedit", ""},
        {13, 5, 1, 800, 600, "Firefox", ""},
        {13, 6, 0, 399.5, 600, "Firefox", ""},
        {13, 7, 0, 400, 300, "Firefox", "x"},
        {11, 8, 0, 200, 200, "", ""},
        {11, 9, 0, 199.9, 200, "", ""},
    };
    const auto call = R"({"id":1,"app":"Zoom","title":"Call","width":1280,"height":720,"meeting":true})"s;
    const auto browser = R"({"id":7,"app":"Browser","title":"x","width":400,"height":300,"meeting":true})"s;
    EXPECT_EQ(legacyEntries(windows, running, false), (std::vector<std::string>{call, browser}));
    EXPECT_EQ(legacyEntries(windows, running, true),
              (std::vector<std::string>{
                  R"({"id":2,"app":"Gedit","title":"notes","width":800,"height":600,"meeting":false})",
                  browser,
                  R"({"id":8,"app":"App","title":"","width":200,"height":200,"meeting":false})"}));
}

}  // namespace
}  // namespace tevoli::window
