#include "inventory.h"

#include <gtest/gtest.h>

namespace tevoli::window {
namespace {

ShareableWindow window(std::uint32_t id, std::optional<std::string> bundle, double width, double height,
                       bool onScreen = true, std::optional<std::string> title = std::nullopt) {
    return {id, 0, width, height, std::move(bundle), "Editor", std::move(title), onScreen};
}

std::vector<std::uint32_t> ids(const std::vector<std::string>& entries) {
    std::vector<std::uint32_t> out;
    for (const auto& e : entries) out.push_back(static_cast<std::uint32_t>(std::stoul(e.substr(6))));
    return out;
}

TEST(SckEntries, WhichWindowsAreListedWithoutAndWithAll) {
    struct Row {
        ShareableWindow window;
        bool listed;
        bool listedWithAll;
    };
    ShareableWindow panel = window(15, "us.zoom.xos", 800, 600);
    panel.layer = 1;
    const std::vector<Row> rows{
        // Size thresholds: 400x300 for meetings (matched by prefix), 200x200 for the others.
        {window(1, "us.zoom.xos", 400, 300), true, true},
        {window(6, "com.cisco.webex.x", 399, 300), false, false},
        {window(7, "com.cisco.webex.x", 400, 299.9), false, false},
        {window(8, "gedit", 200, 200), false, true},
        {window(9, "gedit", 199, 800), false, false},
        {window(10, "gedit", 800, 199.99), false, false},
        // Missing identifier, the host itself, junk prefixes.
        {window(11, std::nullopt, 800, 600), false, false},
        {window(12, TEVOLI_HOST_BUNDLE_ID, 800, 600), false, false},
        {window(13, "com.apple.dock.extra", 800, 600), false, false},
        {window(14, "com.apple.appkit.xpc", 800, 600), false, true},
        {panel, false, false},
        // Off screen and untitled needs 900x600.
        {window(16, "org.mozilla.firefox", 899, 600, false), false, false},
        {window(17, "org.mozilla.firefox", 900, 600, false), true, true},
        {window(18, "org.mozilla.firefox", 900, 599, false, ""), false, false},
        {window(19, "org.mozilla.firefox", 400, 300, false, "Meeting"), true, true},
    };
    std::vector<ShareableWindow> content;
    std::vector<std::uint32_t> listed, listedWithAll;
    for (const Row& row : rows) {
        content.push_back(row.window);
        if (row.listed) listed.push_back(row.window.id);
        if (row.listedWithAll) listedWithAll.push_back(row.window.id);
    }
    EXPECT_EQ(ids(sckEntries(content, false)), listed);
    EXPECT_EQ(ids(sckEntries(content, true)), listedWithAll);
}

TEST(SckEntries, EntryText) {
    ShareableWindow unnamed = window(2, "gedit", 1280.7, 720.2, true, "x");
    unnamed.appName = "";
    const auto entries = sckEntries({window(1, "us.zoom.xos", 400, 300), unnamed}, true);
    EXPECT_EQ(entries, (std::vector<std::string>{
                           R"({"id":1,"app":"Zoom","title":"","width":400,"height":300,"meeting":true})",
                           R"({"id":2,"app":"App","title":"x","width":1280,"height":720,"meeting":false})"}));
}

TEST(LegacyEntries, MeetingByProcessAndExcludedOwners) {
    std::vector<RunningApplication> running{{std::string("us.zoom.xos"), 10}, {std::nullopt, 11},
                                            {std::string("gedit"), 12}, {std::string("org.mozilla.firefox"), 13}};
    std::vector<ServerWindow> windows{
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
    EXPECT_EQ(ids(legacyEntries(windows, running, false)), (std::vector<std::uint32_t>{1, 7}));
    const auto all = legacyEntries(windows, running, true);
    EXPECT_EQ(ids(all), (std::vector<std::uint32_t>{2, 7, 8}));
    EXPECT_EQ(all[1], R"({"id":7,"app":"Browser","title":"x","width":400,"height":300,"meeting":true})");
    EXPECT_EQ(all[2], R"({"id":8,"app":"App","title":"","width":200,"height":200,"meeting":false})");
}

}  // namespace
}  // namespace tevoli::window
