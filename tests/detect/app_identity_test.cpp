#include "app_identity.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// A /proc tree of our own, with only the entries the identity rule reads.
class FakeProc : public ::testing::Test {
protected:
    void TearDown() override { fs::remove_all(root); }
    fs::path process(int pid) {
        fs::create_directories(root / std::to_string(pid));
        return root / std::to_string(pid);
    }
    std::optional<std::string> id(int pid) { return tevoli::appIdentifier(pid, root.string()); }

    const fs::path root = fs::temp_directory_path() / ("tevoli-proc-" + std::to_string(getpid()));
};

TEST_F(FakeProc, IdentityFromSandboxCgroupOrExecutable) {
    const std::string scope = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/";
    struct Process {
        std::string exe;
        std::string cgroup;
        std::optional<std::string> want;
    };
    const std::vector<Process> processes{
        {"/usr/bin/zoomer", "", "zoomer"},
        {"/opt/tevoli/tevoli", "", TEVOLI_HOST_BUNDLE_ID},
        // Chrome's channels share one executable name.
        {"/opt/google/chrome/chrome", "", "com.google.Chrome"},
        {"/opt/google/chrome-beta/chrome", "", "com.google.Chrome.beta"},
        {"/opt/google/chrome-unstable/chrome", "", "chrome"},
        {"/usr/lib/firefox-esr/firefox-esr (deleted)", "", "org.mozilla.firefox"},  // replaced by an upgrade
        {"/", "", std::nullopt},
        // Flatpak: the application id, unescaped, wins over the executable.
        {"/app/extra/zoom/ZoomLauncher", scope + "app-flatpak-us.zoom.Zoom-12345.scope\n", "us.zoom.xos"},
        {"/usr/bin/bwrap", scope + "app-flatpak-org.example.My\\x2dApp-99.scope\n", "org.example.My-App"},
        {"/usr/bin/bwrap", scope + "app-flatpak-org.example.Odd\\x2-5.scope\n", "org.example.Odd\\x2"},
        {"/usr/bin/tool", scope + "app-flatpak-org.example.Tool.scope\n", "tool"},  // no instance number
        // Snap: the snap's name, from cgroup v1 or v2 lines.
        {"/snap/firefox/3026/usr/lib/firefox/firefox",
         "12:pids:/user.slice/user-1000.slice/user@1000.service\n"
         "1:name=systemd:/user.slice/user-1000.slice/user@1000.service/snap.firefox.firefox.4f1c-22.scope\n",
         "org.mozilla.firefox"},
        {"/snap/zoom-client/225/zoom/zoom", scope + "snap.zoom-client.zoom-client-a1b2.scope\n", "us.zoom.xos"},
        {"/usr/bin/snapd", "0::/system.slice/snap.slice\n", "snapd"},
        {"/usr/bin/bash", scope + "app-gnome-firefox-4242.scope\n", "bash"},
    };
    for (int pid = 0; const Process& p : processes) {
        fs::create_symlink(p.exe, process(pid) / "exe");
        if (!p.cgroup.empty()) std::ofstream(process(pid) / "cgroup") << p.cgroup;
        EXPECT_EQ(id(pid++), p.want) << p.exe;
    }
}

TEST_F(FakeProc, UnreadableOrVanishedProcessesHaveNoIdentity) {
    fs::create_directories(process(1) / "cgroup");  // cannot be read as a file
    std::ofstream(process(1) / "exe") << "not a link";
    process(2);  // exited between listing and reading: its entries are gone
    std::ofstream(process(3) / "cgroup") << "0::/app-flatpak-us.zoom.Zoom-12.scope\n";  // a zombie
    ASSERT_EQ(mkfifo((process(4) / "cgroup").c_str(), 0600), 0);  // must not block
    fs::create_symlink("/usr/bin/zoom", process(4) / "exe");
    const std::optional<std::string> none;
    EXPECT_EQ((std::vector{id(1), id(2), id(3), id(4), id(5)}), (std::vector{none, none, none, {"us.zoom.xos"}, none}));
    for (const char* other : {"self", "12a", "99999999999"}) fs::create_directories(root / other);
    EXPECT_EQ(tevoli::processIds(root.string()), (std::vector<int>{1, 2, 3, 4}));
}

}  // namespace
