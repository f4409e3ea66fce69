#include "inventory.h"

#include <gtest/gtest.h>

namespace tevoli::window {
namespace {

ShareableWindow owned(std::uint32_t id, const char* bundle, double width, double height, const char* name = "App Name") {
    ShareableWindow w;
    w.id = id;
    w.width = width;
    w.height = height;
    if (bundle) w.bundleId = bundle;
    w.appName = name;
    w.onScreen = true;
    return w;
}

std::string ids(const std::vector<std::string>& entries) {
    std::string out;
    for (const auto& e : entries) out += e.substr(6, e.find(',') - 6) + " ";
    return out;
}

TEST(MeetingLabel, PrefixAndExactRules) {
    EXPECT_EQ(meetingLabel(std::string("us.zoom.xos")), "Zoom");
    EXPECT_EQ(meetingLabel(std::string("com.microsoft.teams2")), "Microsoft Teams");
    EXPECT_EQ(meetingLabel(std::string("com.cisco.webexmeetingsapp")), "Webex");
    EXPECT_EQ(meetingLabel(std::string("com.google.Chrome.beta")), "Browser");
    EXPECT_EQ(meetingLabel(std::string("org.mozilla.firefox")), "Browser");
    EXPECT_FALSE(meetingLabel(std::string("com.google.Chrome.canary")));
    EXPECT_FALSE(meetingLabel(std::string("US.ZOOM.xos")));
    EXPECT_FALSE(meetingLabel(std::string("us.zoom")));
    EXPECT_FALSE(meetingLabel(std::nullopt));
}

TEST(JunkBundle, MissingHostAndPrefixes) {
    EXPECT_TRUE(isJunkBundle(std::nullopt));
    EXPECT_TRUE(isJunkBundle(std::string(TEVOLI_HOST_BUNDLE_ID)));
    EXPECT_TRUE(isJunkBundle(std::string("com.apple.dock.extra")));
    EXPECT_TRUE(isJunkBundle(std::string("com.apple.appkit.xpc.openAndSave")));
    EXPECT_FALSE(isJunkBundle(std::string("com.apple.appkit.xpc")));
    EXPECT_FALSE(isJunkBundle(std::string("gedit")));
}

TEST(Entry, KeysInOrderAndWindowStringForm) {
    EXPECT_EQ(entry(812, "Zoom", "", 1280, 720, true),
              R"({"id":812,"app":"Zoom","title":"","width":1280,"height":720,"meeting":true})");
    EXPECT_EQ(entry(4294967295u, "a\"b", "t\tx\r\n\\é\x01", 1, 2, false),
              "{\"id\":4294967295,\"app\":\"a\\\"b\",\"title\":\"t\\u0009x\\u000d\\n\\\\é\\u0001\","
              "\"width\":1,\"height\":2,\"meeting\":false}");
    EXPECT_EQ(listingLine({}), "{\"windows\":[]}\n");
    EXPECT_EQ(listingLine({"{}", "{}"}), "{\"windows\":[{},{}]}\n");
}

TEST(SckEntries, MeetingWindowsOnlyWithoutAll) {
    std::vector<ShareableWindow> content{owned(1, "us.zoom.xos", 1280, 720, ""), owned(2, "gedit", 800, 600),
                                         owned(3, "com.google.Chrome.dev", 800, 600)};
    auto entries = sckEntries(content, false);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0], R"({"id":1,"app":"Zoom","title":"","width":1280,"height":720,"meeting":true})");
    entries = sckEntries(content, true);
    EXPECT_EQ(ids(entries), "1 2 3 ");
    EXPECT_EQ(entries[2], R"({"id":3,"app":"App Name","title":"","width":800,"height":600,"meeting":false})");
}

TEST(SckEntries, SizeThresholdsOnBothSides) {
    std::vector<ShareableWindow> content{
        owned(1, "com.cisco.webex.x", 399, 300), owned(2, "com.cisco.webex.x", 400, 300),
        owned(3, "com.cisco.webex.x", 400, 299.9), owned(4, "gedit", 200, 200),
        owned(5, "gedit", 199, 800), owned(6, "gedit", 800, 199.99), owned(7, "gedit", 1280.7, 720.2)};
    const auto entries = sckEntries(content, true);
    EXPECT_EQ(ids(entries), "2 4 7 ");
    EXPECT_NE(entries[2].find(R"("width":1280,"height":720)"), std::string::npos);
    EXPECT_EQ(ids(sckEntries(content, false)), "2 ");
}

TEST(SckEntries, JunkOwnersAndLayers) {
    ShareableWindow noOwner = owned(3, nullptr, 800, 600);
    noOwner.appName = "";
    ShareableWindow panel = owned(5, "us.zoom.xos", 800, 600);
    panel.layer = 1;
    std::vector<ShareableWindow> content{owned(1, "com.apple.dock", 800, 600), owned(2, TEVOLI_HOST_BUNDLE_ID, 800, 600),
                                         noOwner, owned(4, nullptr, 800, 600), panel, owned(6, "gedit", 800, 600, "")};
    const auto entries = sckEntries(content, true);
    EXPECT_EQ(ids(entries), "6 ");
    EXPECT_NE(entries[0].find(R"("app":"App")"), std::string::npos);
}

TEST(SckEntries, OffScreenUntitledNeedsNineHundredBySixHundred) {
    auto offScreen = [](std::uint32_t id, double w, double h, std::optional<std::string> title) {
        ShareableWindow window = owned(id, "org.mozilla.firefox", w, h);
        window.onScreen = false;
        window.title = std::move(title);
        return window;
    };
    std::vector<ShareableWindow> content{offScreen(1, 899, 600, std::nullopt), offScreen(2, 900, 600, std::nullopt),
                                         offScreen(3, 900, 599, ""), offScreen(4, 400, 300, "Meeting"),
                                         owned(5, "org.mozilla.firefox", 400, 300)};
    EXPECT_EQ(ids(sckEntries(content, false)), "2 4 5 ");
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
    EXPECT_EQ(ids(legacyEntries(windows, running, false)), "1 7 ");
    const auto all = legacyEntries(windows, running, true);
    EXPECT_EQ(ids(all), "2 7 8 ");
    EXPECT_EQ(all[1], R"({"id":7,"app":"Browser","title":"x","width":400,"height":300,"meeting":true})");
    EXPECT_NE(all[2].find(R"("app":"App")"), std::string::npos);
}

TEST(LegacyEntries, LaterProcessWithSamePidWins) {
    std::vector<RunningApplication> running{{std::string("us.zoom.xos"), 10}, {std::string("org.mozilla.firefox"), 10}};
    const auto entries = legacyEntries({{10, 1, 0, 800, 600, "x", ""}}, running, false);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_NE(entries[0].find(R"("app":"Browser")"), std::string::npos);
}

}  // namespace
}  // namespace tevoli::window
