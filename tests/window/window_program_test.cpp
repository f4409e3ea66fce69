#include "window_program.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <future>

#include "inventory.h"

namespace tevoli::window {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

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

const Image kPixels = Image::of(2, 2, std::vector<std::uint8_t>(16, 0x80));
const Outcome<std::vector<ShareableWindow>> kFound{
    std::vector<ShareableWindow>{{7, 0, 3.6, 2.4, {}, "", {}, true}}, ""};
// Short waits only where a display call hangs or a frame never comes, so that a loaded machine
// cannot make a call late.
const Timeouts kPatient{60s, 60s, 60s, 1ms, 60s};
const Timeouts kNoFrame{60s, 60s, 60s, 1ms, 50ms};
const Timeouts kHung{50ms, 100ms, 50ms, 1ms, 60s};

// No frame at first, as from a window away for a while, then `frame` for good, if any.
class Stream final : public WindowStream {
public:
    explicit Stream(std::optional<Image> frame) : frame_(std::move(frame)) {}
    Grab grab() override {
        if (std::exchange(away_, false) || !frame_) return {};
        return {Status::frame, *frame_};
    }

private:
    std::optional<Image> frame_;
    bool away_ = true;
};

// A display that answers with what the test set; a call that hangs returns once the test
// is over. Its pictures render only at twice the whole points of the window found, and
// only paths in /shots without a carriage return or NUL byte can be written.
class FakeWindowSystem final : public WindowSystem {
public:
    Outcome<std::vector<ShareableWindow>> content = kFound;
    std::optional<std::vector<ServerWindow>> serverList;
    Outcome<Image> image{kPixels, ""};
    std::string streamError;
    std::optional<Image> frame = kPixels;
    bool contentHangs = false, serverListHangs = false;
    std::promise<void> release;

    Outcome<std::vector<ShareableWindow>> shareableContent() override {
        return answer(contentHangs, content);
    }
    std::optional<std::vector<ServerWindow>> windowServerList() override {
        return answer(serverListHangs, serverList);
    }
    std::vector<RunningApplication> runningApplications() override { return {}; }
    Outcome<Image> captureImage(const ShareableWindow&) override { return image; }
    Outcome<std::unique_ptr<WindowStream>> startStream(const ShareableWindow&) override {
        if (!streamError.empty()) return {std::nullopt, streamError};
        return {std::make_unique<Stream>(frame), {}};
    }
    Written writeJpeg(const Image& image, int width, int height, const std::string& path) override {
        if (image.pixels == nullptr || width != 6 || height != 4) return {Failed::render, {}};
        if (std::filesystem::path(path).parent_path() == "/shots" && path.find_first_of("\r\0"s) == path.npos)
            return {};
        return {Failed::write, "No such file or directory"};
    }

private:
    template <typename T>
    const T& answer(bool hangs, const T& value) {
        if (hangs) released_.wait();
        return value;
    }
    const std::shared_future<void> released_ = release.get_future().share();
};

class WindowProgram : public ::testing::Test {
protected:
    void TearDown() override { system->release.set_value(); }

    // Runs a mode with `commands` as its input; returns the ending and what it wrote as it went.
    std::pair<Ending, std::string> run(Mode mode, std::string commands = "", Timeouts waits = kPatient) {
        const int in = memfd_create("in", 0), out = memfd_create("out", 0);
        EXPECT_EQ(pwrite(in, commands.data(), commands.size(), 0), ssize_t(commands.size()));
        const Ending ending = runWindowProgram({mode, true, 7, dest}, system, in, out, waits);
        std::string written(static_cast<std::size_t>(lseek(out, 0, SEEK_END)), '\0');
        EXPECT_EQ(pread(out, written.data(), written.size(), 0), ssize_t(written.size()));
        close(in);
        close(out);
        return {ending, written};
    }

    std::shared_ptr<FakeWindowSystem> system = std::make_shared<FakeWindowSystem>();
    std::string dest = "/shots/shot.jpg";
};

TEST_F(WindowProgram, ListFallsBackToTheServerListThenToNothing) {
    const std::string fromServer = R"({"windows":[{"id":42,"app":"Gedit","title":"notes",)"
                                   R"("width":640,"height":480,"meeting":false}]})" "\n";
    const std::string nothing = "{\"windows\":[]}\n";
    system->content = {std::nullopt, "no display"};
    EXPECT_EQ(run(Mode::list).first.output, nothing);
    system->serverList = std::vector<ServerWindow>{{7, 42, 0, 640, 480, "Gedit", "notes"}};
    EXPECT_EQ(run(Mode::list).first.output, fromServer);
    system->contentHangs = true;
    EXPECT_EQ(run(Mode::list, "", {50ms, 60s}).first.output, fromServer);
    system->serverListHangs = true;
    EXPECT_EQ(run(Mode::list, "", kHung).first.output, nothing);
}

TEST_F(WindowProgram, CaptureAndWatchFailuresEndWithStatus1AndTheirMessage) {
    const struct {
        Mode mode;
        Outcome<std::vector<ShareableWindow>> content;
        Outcome<Image> image;
        std::string streamError, message;
    } cases[] = {
        {Mode::capture, {std::nullopt, ""}, {}, "", "shareable content: unknown"},
        {Mode::capture, {std::vector<ShareableWindow>{}, ""}, {}, "", "window 7 not found"},
        {Mode::capture, kFound, {std::nullopt, "BadMatch"}, "", "capture: BadMatch"},
        {Mode::capture, kFound, {Image{}, ""}, "", "jpeg encode failed"},
        {Mode::capture, kFound, {kPixels, ""}, "", "write: No such file or directory"},
        {Mode::watch, {std::nullopt, "BadAccess"}, {}, "", "shareable content: BadAccess"},
        {Mode::watch, {std::vector<ShareableWindow>{}, ""}, {}, "", "window 7 not found"},
        {Mode::watch, kFound, {}, "BadAccess", "start: BadAccess"},
    };
    dest = "/shots/missing/shot.jpg";
    for (const auto& c : cases) {
        system->content = c.content;
        system->image = c.image;
        system->streamError = c.streamError;
        const auto [ending, written] = run(c.mode, "shoot /shots/shot.jpg\n");
        EXPECT_EQ(std::tie(ending.status, ending.message, ending.output, written),
                  std::make_tuple(1, c.message, ""s, ""s));
    }
    system->contentHangs = true;
    for (const Mode mode : {Mode::capture, Mode::watch})
        EXPECT_EQ(run(mode, "", kHung).first.message, "timeout");
}

TEST_F(WindowProgram, WatchAnswersEachShotAfterReadyUntilQuitOrTheEndOfInput) {
    const struct {
        std::optional<Image> frame;
        std::string commands, written;
    } cases[] = {
        // A NUL byte must not cut a path short and write a file nobody named.
        {kPixels,
         "shoot /shots/a.jpg\r\nhello\nshoot\nShoot /shots/b.jpg\nshoot /shots/cut\0.jpg\n"
         "shoot /shots/no/c.jpg\nquit\r\nshoot x\n"s,
         "READY\nok\nerr write failed\nerr write failed\n"},
        {kPixels, "", "READY\n"},
        {std::nullopt, "shoot /shots/b.jpg\n", "READY\nerr no frame\n"},
        {Image{}, "shoot /shots/b.jpg\n", "READY\nerr cgimage failed\n"},
    };
    for (const auto& c : cases) {
        system->frame = c.frame;
        const auto [ending, written] = run(Mode::watch, c.commands, c.frame ? kPatient : kNoFrame);
        EXPECT_EQ(std::tie(ending.status, ending.message, written), std::make_tuple(0, ""s, c.written));
    }
}

}  // namespace
}  // namespace tevoli::window
