#include "window_program.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <future>

namespace tevoli::window {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

const Image kPixels = Image::of(2, 2, std::vector<std::uint8_t>(16, 0x80));
const Outcome<std::vector<ShareableWindow>> kFound{
    std::vector<ShareableWindow>{{7, 0, 3.6, 2.4, {}, "", {}, true}}, ""};
// Short waits only where a display call hangs or a frame never comes, so that a loaded machine
// cannot make a call late.
const Timeouts kPatient{60s, 60s, 60s, 1ms, 60s};
const Timeouts kNoFrame{60s, 60s, 60s, 1ms, 50ms};

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
    bool contentHangs = false;
    std::promise<void> release;

    Outcome<std::vector<ShareableWindow>> shareableContent() override {
        if (contentHangs) released_.wait();
        return content;
    }
    std::optional<std::vector<ServerWindow>> windowServerList() override { return serverList; }
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

TEST_F(WindowProgram, ListFallsBackToTheServerListWhenTheDisplayFailsOrHangs) {
    const std::string fromServer = R"({"windows":[{"id":42,"app":"Gedit","title":"notes",)"
                                   R"("width":640,"height":480,"meeting":false}]})" "\n";
    system->serverList = std::vector<ServerWindow>{{7, 42, 0, 640, 480, "Gedit", "notes"}};
    system->content = {std::nullopt, "no display"};
    EXPECT_EQ(run(Mode::list).first.output, fromServer);
    system->contentHangs = true;
    EXPECT_EQ(run(Mode::list, "", {50ms, 60s}).first.output, fromServer);
}

TEST_F(WindowProgram, CaptureAndWatchFailuresEndWithStatus1AndTheirMessage) {
    const struct {
        Mode mode;
        Outcome<std::vector<ShareableWindow>> content;
        Outcome<Image> image;
        std::string streamError, message;
    } cases[] = {
        {Mode::capture, {std::nullopt, ""}, {}, "", "shareable content: unknown"},
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
