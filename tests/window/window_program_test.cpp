#include "window_program.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>

namespace tevoli::window {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Status = WindowStream::Status;

const Image kPixels = Image::of(2, 2, std::vector<std::uint8_t>(16, 0x80));
// Waits that end the test only where a display call hangs on purpose, so a loaded
// machine cannot make a call late.
const Timeouts kPatient{60s, 60s, 60s, 1ms, 60s};
const Timeouts kHung{50ms, 100ms, 50ms, 1ms, 60s};

// Answers each grab with the next status of its script, the last one for good.
class ScriptedStream final : public WindowStream {
public:
    ScriptedStream(std::vector<Status> script, Image image) : script_(std::move(script)), image_(std::move(image)) {}
    Grab grab() override {
        const Status status = script_.front();
        if (script_.size() > 1) script_.erase(script_.begin());
        return {status, status == Status::frame ? image_ : Image{}};
    }

private:
    std::vector<Status> script_;
    Image image_;
};

// A display that answers with what the test set; a call that hangs returns once the
// test is over. Its files are kept in memory: a picture without pixels, or not at
// twice the whole points of the window found (3.6 x 2.4), does not render, and a path
// with a NUL byte or outside the one directory there is fails.
class FakeWindowSystem final : public WindowSystem {
public:
    static constexpr const char* kDirectory = "/shots";
    std::set<std::string> files;
    Outcome<std::vector<ShareableWindow>> content;
    std::optional<std::vector<ServerWindow>> serverList;
    Outcome<Image> image{kPixels, ""};
    std::string streamError;
    std::vector<Status> script{Status::frame};
    Image frame = kPixels;
    bool contentHangs = false, serverListHangs = false;

    void release() {
        std::lock_guard<std::mutex> hold(lock_);
        contentHangs = serverListHangs = false;
        released_.notify_all();
    }
    Outcome<std::vector<ShareableWindow>> shareableContent() override { return once(contentHangs, content); }
    std::optional<std::vector<ServerWindow>> windowServerList() override { return once(serverListHangs, serverList); }
    std::vector<RunningApplication> runningApplications() override { return {}; }
    Outcome<Image> captureImage(const ShareableWindow&) override { return image; }
    Outcome<std::unique_ptr<WindowStream>> startStream(const ShareableWindow&) override {
        if (!streamError.empty()) return {std::nullopt, streamError};
        return {std::make_unique<ScriptedStream>(script, frame), {}};
    }
    Written writeJpeg(const Image& image, int width, int height, const std::string& path) override {
        if (image.pixels == nullptr || width != 6 || height != 4) return {Failed::render, {}};
        if (path.find('\0') != std::string::npos || fs::path(path).parent_path() != kDirectory)
            return {Failed::write, "No such file or directory"};
        files.insert(path);
        return {};
    }

private:
    template <typename T>
    T once(const bool& hangs, const T& answer) {
        std::unique_lock<std::mutex> hold(lock_);
        released_.wait(hold, [&] { return !hangs; });
        return answer;
    }
    std::mutex lock_;
    std::condition_variable released_;
};

class WindowProgram : public ::testing::Test {
protected:
    void SetUp() override { system->content = found; }
    void TearDown() override { system->release(); }

    // Runs a mode with `commands` as its input; returns the ending and what it wrote as it went.
    std::pair<Ending, std::string> run(Mode mode, const std::string& commands = "", const Timeouts& timeouts = kPatient) {
        const int in = memfd_create("in", 0), out = memfd_create("out", 0);
        EXPECT_EQ(write(in, commands.data(), commands.size()), static_cast<ssize_t>(commands.size()));
        lseek(in, 0, SEEK_SET);
        const Ending ending = runWindowProgram({mode, true, 7, dir + "shot.jpg"}, system, in, out, timeouts);
        std::string written(static_cast<std::size_t>(lseek(out, 0, SEEK_END)), '\0');
        EXPECT_EQ(pread(out, written.data(), written.size(), 0), static_cast<ssize_t>(written.size()));
        close(in);
        close(out);
        return {ending, written};
    }

    std::shared_ptr<FakeWindowSystem> system = std::make_shared<FakeWindowSystem>();
    const Outcome<std::vector<ShareableWindow>> found{std::vector<ShareableWindow>{{7, 0, 3.6, 2.4, {}, "", {}, true}},
                                                      ""};
    std::string dir = std::string(FakeWindowSystem::kDirectory) + "/";
};

TEST_F(WindowProgram, ListFallsBackToTheServerListThenToNothing) {
    const std::string fromServer =
        R"({"windows":[{"id":42,"app":"Gedit","title":"notes","width":640,"height":480,"meeting":false}]})" "\n";
    system->serverList = std::vector<ServerWindow>{{7, 42, 0, 640, 480, "Gedit", "notes"}};
    system->content = {std::nullopt, "no display"};
    EXPECT_EQ(run(Mode::list).first.output, fromServer);
    system->contentHangs = true;
    EXPECT_EQ(run(Mode::list, "", {50ms, 60s}).first.output, fromServer);
    system->serverListHangs = true;
    const auto [ending, written] = run(Mode::list, "", kHung);
    EXPECT_EQ(std::tie(ending.status, ending.output, ending.message, written),
              std::make_tuple(0, std::string("{\"windows\":[]}\n"), std::string(), std::string()));
}

TEST_F(WindowProgram, CaptureAndWatchFailuresEndWithStatus1AndTheirMessage) {
    const struct {
        Mode mode;
        Outcome<std::vector<ShareableWindow>> content;
        Outcome<Image> image;
        std::string streamError;
        bool hangs;
        std::string message;
    } cases[] = {
        {Mode::capture, found, {kPixels, ""}, "", false, ""},
        {Mode::capture, {std::nullopt, ""}, {}, "", false, "shareable content: unknown"},
        {Mode::capture, {std::vector<ShareableWindow>{}, ""}, {}, "", false, "window 7 not found"},
        {Mode::capture, found, {std::nullopt, "BadMatch"}, "", false, "capture: BadMatch"},
        {Mode::capture, found, {Image{}, ""}, "", false, "jpeg encode failed"},
        {Mode::capture, found, {}, "", true, "timeout"},
        {Mode::watch, {std::nullopt, "BadAccess"}, {}, "", false, "shareable content: BadAccess"},
        {Mode::watch, {std::vector<ShareableWindow>{}, ""}, {}, "", false, "window 7 not found"},
        {Mode::watch, found, {}, "BadAccess", false, "start: BadAccess"},
        {Mode::watch, found, {}, "", true, "timeout"},
    };
    for (const auto& c : cases) {
        system->release();
        system->files.clear();
        system->content = c.content;
        system->image = c.image;
        system->streamError = c.streamError;
        system->contentHangs = c.hangs;
        const auto [ending, written] = run(c.mode, "shoot " + dir + "shot.jpg\n", c.hangs ? kHung : kPatient);
        EXPECT_EQ(std::tie(ending.status, ending.message, ending.output, written),
                  std::make_tuple(c.message.empty() ? 0 : 1, c.message, std::string(), std::string()));
        EXPECT_EQ(system->files.count(dir + "shot.jpg"), c.message.empty() ? 1u : 0u) << c.message;
    }
    system->release();
    dir += "missing/";
    system->content = found;
    system->image = {kPixels, ""};
    EXPECT_EQ(run(Mode::capture).first.message, "write: No such file or directory");
}

TEST_F(WindowProgram, WatchAnswersEachShotAfterReadyUntilQuitOrTheEndOfInput) {
    const std::string commands = "shoot " + dir + "a.jpg\r\nhello\nshoot\nShoot " + dir + "b.jpg\nshoot " + dir +
                                 std::string("cut\0.jpg\n", 9) + "shoot " + dir + "no/c.jpg\nquit\r\nshoot x\n";
    const struct {
        std::vector<Status> script;
        Image frame;
        std::string commands;
        bool neverAFrame;
        std::string written;
    } cases[] = {
        // A window away for a while keeps the stream going. A NUL byte must not cut
        // a path short and write a file nobody named.
        {{Status::noFrame, Status::frame}, kPixels, commands, false, "READY\nok\nerr write failed\nerr write failed\n"},
        {{Status::frame}, kPixels, "", false, "READY\n"},
        {{Status::noFrame}, kPixels, "shoot " + dir + "b.jpg\n", true, "READY\nerr no frame\n"},
        {{Status::stopped}, kPixels, "shoot " + dir + "b.jpg\n", false, "READY\nerr stopped\n"},
        {{Status::frame}, Image{}, "shoot " + dir + "b.jpg\n", false, "READY\nerr cgimage failed\n"},
    };
    for (const auto& c : cases) {
        system->script = c.script;
        system->frame = c.frame;
        const Timeouts timeouts = c.neverAFrame ? Timeouts{60s, 60s, 60s, 1ms, 50ms} : kPatient;
        const auto [ending, written] = run(Mode::watch, c.commands, timeouts);
        EXPECT_EQ(std::tie(ending.status, ending.message, written), std::make_tuple(0, std::string(), c.written));
    }
    EXPECT_EQ(system->files, std::set<std::string>{dir + "a.jpg"});
}

}  // namespace
}  // namespace tevoli::window
