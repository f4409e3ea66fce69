#include "window_program.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>

namespace tevoli::window {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Timeouts short enough for a test that waits them out.
const Timeouts kShort{50ms, 100ms, 50ms, 1ms, 2000ms};

// A stream that always has the one frame.
class StillStream final : public WindowStream {
public:
    Grab grab() override { return {Status::frame, Image::of(2, 2, std::vector<std::uint8_t>(16, 0x80))}; }
};

// A display that answers with what the test set; one that hangs answers only once
// the test is over.
class FakeWindowSystem final : public WindowSystem {
public:
    Outcome<std::vector<ShareableWindow>> content;
    std::optional<std::vector<ServerWindow>> serverList;
    Outcome<Image> image;
    std::string streamError;
    bool contentHangs = false;
    bool serverListHangs = false;

    void release() {
        std::lock_guard<std::mutex> hold(lock_);
        contentHangs = serverListHangs = false;
        released_.notify_all();
    }
    Outcome<std::vector<ShareableWindow>> shareableContent() override {
        waitWhile(contentHangs);
        return content;
    }
    std::optional<std::vector<ServerWindow>> windowServerList() override {
        waitWhile(serverListHangs);
        return serverList;
    }
    std::vector<RunningApplication> runningApplications() override { return {}; }
    Outcome<Image> captureImage(const ShareableWindow&) override { return image; }
    Outcome<std::unique_ptr<WindowStream>> startStream(const ShareableWindow&) override {
        if (!streamError.empty()) return {std::nullopt, streamError};
        return {std::make_unique<StillStream>(), {}};
    }

private:
    void waitWhile(const bool& hangs) {
        std::unique_lock<std::mutex> hold(lock_);
        released_.wait(hold, [&] { return !hangs; });
    }
    std::mutex lock_;
    std::condition_variable released_;
};

class WindowProgram : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = fs::temp_directory_path() / "tevoli-program-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern + "/";
        ShareableWindow window;
        window.id = 7;
        window.width = 3;
        window.height = 2;
        found = {std::vector<ShareableWindow>{window}, ""};
        system->content = found;
    }
    void TearDown() override {
        system->release();
        fs::remove_all(dir);
    }

    // Runs a mode with `commands` as its input; returns the ending and what it wrote as it went.
    std::pair<Ending, std::string> run(Mode mode, const std::string& commands = "") {
        const int in = memfd_create("in", 0), out = memfd_create("out", 0);
        EXPECT_EQ(write(in, commands.data(), commands.size()), static_cast<ssize_t>(commands.size()));
        lseek(in, 0, SEEK_SET);
        const Ending ending = runWindowProgram(CommandLine{mode, true, 7, dir + "shot.jpg"}, system, in, out, kShort);
        std::string written(static_cast<std::size_t>(lseek(out, 0, SEEK_END)), '\0');
        EXPECT_EQ(pread(out, written.data(), written.size(), 0), static_cast<ssize_t>(written.size()));
        close(in);
        close(out);
        return {ending, written};
    }

    std::shared_ptr<FakeWindowSystem> system = std::make_shared<FakeWindowSystem>();
    Outcome<std::vector<ShareableWindow>> found;
    std::string dir;
};

TEST_F(WindowProgram, ListFallsBackToTheServerListThenToNothing) {
    const std::string fromServer =
        R"({"windows":[{"id":42,"app":"Gedit","title":"notes","width":640,"height":480,"meeting":false}]})" "\n";
    system->serverList = std::vector<ServerWindow>{{7, 42, 0, 640, 480, "Gedit", "notes"}};
    system->content = {std::nullopt, "no display"};
    EXPECT_EQ(run(Mode::list).first.output, fromServer);
    system->contentHangs = true;
    EXPECT_EQ(run(Mode::list).first.output, fromServer);
    system->serverListHangs = true;
    const auto [ending, written] = run(Mode::list);
    EXPECT_EQ(std::tie(ending.status, ending.output, ending.message, written),
              std::make_tuple(0, std::string("{\"windows\":[]}\n"), std::string(), std::string()));
}

TEST_F(WindowProgram, CaptureWritesTheFileOrEndsWithTheFailure) {
    const Outcome<Image> captured{Image::of(3, 2, std::vector<std::uint8_t>(24, 0x80)), ""};
    const struct {
        Outcome<std::vector<ShareableWindow>> content;
        Outcome<Image> image;
        bool hangs;
        std::string message;
    } cases[] = {
        {found, captured, false, ""},
        {{std::nullopt, ""}, captured, false, "shareable content: unknown"},
        {{std::vector<ShareableWindow>{}, ""}, captured, false, "window 7 not found"},
        {found, {std::nullopt, "BadMatch"}, false, "capture: BadMatch"},
        {found, {Image{}, ""}, false, "jpeg encode failed"},
        {found, captured, true, "timeout"},
    };
    for (const auto& c : cases) {
        fs::remove(dir + "shot.jpg");
        system->content = c.content;
        system->image = c.image;
        system->contentHangs = c.hangs;
        const auto [ending, written] = run(Mode::capture);
        EXPECT_EQ(std::tie(ending.status, ending.message, ending.output, written),
                  std::make_tuple(c.message.empty() ? 0 : 1, c.message, std::string(), std::string()));
        EXPECT_EQ(fs::exists(dir + "shot.jpg"), c.message.empty()) << c.message;
    }
    system->release();
    dir += "missing/";
    system->content = found;
    EXPECT_EQ(run(Mode::capture).first.message, "write: No such file or directory");
}

TEST_F(WindowProgram, WatchAnswersShotsAfterReadyUntilQuit) {
    const auto [ending, written] = run(Mode::watch, "shoot " + dir + "a.jpg\nhello\nshoot " + dir + "no/b.jpg\r\nquit\nshoot x\n");
    EXPECT_EQ(std::tie(ending.status, ending.message), std::make_tuple(0, std::string()));
    EXPECT_EQ(written, "READY\nok\nerr write failed\n");
    EXPECT_TRUE(fs::exists(dir + "a.jpg"));
    EXPECT_EQ(run(Mode::watch).second, "READY\n");  // the end of input ends it too
}

TEST_F(WindowProgram, WatchFailsBeforeReady) {
    const struct {
        Outcome<std::vector<ShareableWindow>> content;
        std::string streamError;
        bool hangs;
        std::string message;
    } cases[] = {
        {{std::nullopt, "BadAccess"}, "", false, "shareable content: BadAccess"},
        {{std::vector<ShareableWindow>{}, ""}, "", false, "window 7 not found"},
        {found, "BadAccess", false, "start: BadAccess"},
        {found, "", true, "timeout"},
    };
    for (const auto& c : cases) {
        system->content = c.content;
        system->streamError = c.streamError;
        system->contentHangs = c.hangs;
        const auto [ending, written] = run(Mode::watch, "shoot " + dir + "a.jpg\n");
        EXPECT_EQ(std::tie(ending.status, ending.message, written), std::make_tuple(1, c.message, std::string()));
    }
}

}  // namespace
}  // namespace tevoli::window
