#include "app_identity.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using tevoli::appIdentifier;
using tevoli::processIds;

namespace {

// A /proc tree of our own, with only the entries the identity rule reads.
class FakeProc : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tevoli-proc-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root = pattern;
    }
    void TearDown() override { fs::remove_all(root); }

    fs::path process(int pid) {
        const fs::path dir = root / std::to_string(pid);
        fs::create_directories(dir);
        return dir;
    }
    void withExe(int pid, const std::string& target) { fs::create_symlink(target, process(pid) / "exe"); }
    void withCgroup(int pid, const std::string& text) { std::ofstream(process(pid) / "cgroup") << text; }
    std::optional<std::string> id(int pid) { return appIdentifier(pid, root.string()); }

    fs::path root;
};

constexpr const char* kUserScope = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/";

TEST_F(FakeProc, ExecutableNamesAreTranslatedExactlyAndOthersPassThrough) {
    withExe(1, "/usr/bin/zoom");
    withExe(2, "/usr/lib/firefox-esr/firefox-esr");
    withExe(3, "/opt/teams-for-linux/teams-for-linux");
    withExe(4, "/usr/bin/Zoom");  // letter case matters
    withExe(5, "/usr/bin/zoomer");
    withExe(6, "/usr/bin/bash");
    withExe(7, "/opt/tevoli/tevoli");
    EXPECT_EQ(id(1), "us.zoom.xos");
    EXPECT_EQ(id(2), "org.mozilla.firefox");
    EXPECT_EQ(id(3), "com.microsoft.teams2");
    EXPECT_EQ(id(4), "Zoom");
    EXPECT_EQ(id(5), "zoomer");
    EXPECT_EQ(id(6), "bash");
    EXPECT_EQ(id(7), TEVOLI_HOST_BUNDLE_ID);
}

TEST_F(FakeProc, ChromeChannelComesFromItsFolder) {
    withExe(1, "/opt/google/chrome/chrome");
    withExe(2, "/opt/google/chrome-beta/chrome");
    withExe(3, "/opt/google/chrome-unstable/chrome");
    withExe(4, "/usr/lib/chromium/chrome");
    EXPECT_EQ(id(1), "com.google.Chrome");
    EXPECT_EQ(id(2), "com.google.Chrome.beta");
    EXPECT_EQ(id(3), "chrome");
    EXPECT_EQ(id(4), "chrome");
}

TEST_F(FakeProc, ReplacedExecutableKeepsItsName) {
    withExe(1, "/usr/lib/firefox/firefox (deleted)");
    EXPECT_EQ(id(1), "org.mozilla.firefox");
}

TEST_F(FakeProc, FlatpakIdFromTheCgroupWinsOverTheExecutable) {
    withCgroup(1, std::string(kUserScope) + "app-flatpak-us.zoom.Zoom-12345.scope\n");
    withExe(1, "/app/extra/zoom/ZoomLauncher");
    withCgroup(2, std::string(kUserScope) + "app-flatpak-com.github.IsmaelMartinez.teams_for_linux-7.scope\n");
    withCgroup(3, std::string(kUserScope) + "app-flatpak-org.example.My\\x2dApp-99.scope\n");
    withCgroup(5, std::string(kUserScope) + "app-flatpak-org.example.Odd\\x2-5.scope\n");  // cut escape stays
    for (int pid : {2, 3, 5}) withExe(pid, "/usr/bin/bwrap");
    withCgroup(4, std::string(kUserScope) + "app-flatpak-org.example.Tool.scope\n");  // no instance number
    withExe(4, "/usr/bin/tool");
    EXPECT_EQ(id(1), "us.zoom.xos");
    EXPECT_EQ(id(2), "com.microsoft.teams2");
    EXPECT_EQ(id(3), "org.example.My-App");
    EXPECT_EQ(id(4), "tool");
    EXPECT_EQ(id(5), "org.example.Odd\\x2");
}

TEST_F(FakeProc, SnapNameFromCgroupV1OrV2Lines) {
    withCgroup(1,
               "12:pids:/user.slice/user-1000.slice/user@1000.service\n"
               "1:name=systemd:/user.slice/user-1000.slice/user@1000.service/"
               "snap.firefox.firefox.4f1c-22.scope\n"
               "0::/user.slice/user-1000.slice/user@1000.service/snap.firefox.firefox.4f1c-22.scope\n");
    withExe(1, "/snap/firefox/3026/usr/lib/firefox/firefox");
    withCgroup(2, std::string(kUserScope) + "snap.zoom-client.zoom-client-a1b2.scope\n");
    withExe(2, "/snap/zoom-client/225/zoom/zoom");
    withCgroup(3, "0::/system.slice/snap.slice\n");  // no application part
    withExe(3, "/usr/bin/snapd");
    withCgroup(4, std::string(kUserScope) + "app-gnome-firefox-4242.scope\n");
    withExe(4, "/usr/bin/bash");
    EXPECT_EQ(id(1), "org.mozilla.firefox");
    EXPECT_EQ(id(2), "us.zoom.xos");
    EXPECT_EQ(id(3), "snapd");
    EXPECT_EQ(id(4), "bash");
}

TEST_F(FakeProc, UnreadableOrVanishedProcessesHaveNoIdentity) {
    fs::create_directories(process(1) / "cgroup");  // cannot be read as a file
    std::ofstream(process(1) / "exe") << "not a link";
    process(2);  // exited between listing and reading: its entries are gone
    withCgroup(6, std::string(kUserScope) + "app-flatpak-us.zoom.Zoom-12.scope\n");  // a zombie keeps its cgroup
    withExe(3, "/");  // no base name
    ASSERT_EQ(mkfifo((process(4) / "cgroup").c_str(), 0600), 0);  // must not block
    withExe(4, "/usr/bin/zoom");
    EXPECT_EQ(id(1), std::nullopt);
    EXPECT_EQ(id(2), std::nullopt);
    EXPECT_EQ(id(3), std::nullopt);
    EXPECT_EQ(id(4), "us.zoom.xos");
    EXPECT_EQ(id(5), std::nullopt);
    EXPECT_EQ(id(6), std::nullopt);
    EXPECT_EQ(appIdentifier(1, (root / "missing").string()), std::nullopt);
}

TEST_F(FakeProc, ProcessIdsAreTheNumericEntriesInOrder) {
    for (int pid : {300, 1, 42}) process(pid);
    for (const char* other : {"self", "thread-self", "12a", "net"}) fs::create_directories(root / other);
    std::ofstream(root / "uptime") << "1.0 2.0\n";
    EXPECT_EQ(processIds(root.string()), (std::vector<int>{1, 42, 300}));
    EXPECT_TRUE(processIds((root / "missing").string()).empty());
}

TEST(RealProc, OurOwnProcessIsListedAndIdentified) {
    const auto ids = processIds();
    EXPECT_NE(std::find(ids.begin(), ids.end(), getpid()), ids.end());
    EXPECT_EQ(appIdentifier(getpid()), "detect_unit");
}

}  // namespace
