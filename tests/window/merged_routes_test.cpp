#include "merged_routes.h"

#include <gtest/gtest.h>

#include <condition_variable>

namespace tevoli::window {
namespace {

using namespace std::chrono_literals;

// Lists what the test set, or its error; a route that hangs answers once the test is
// over (or after half a minute, when a listing waits for it). Records the handles of
// the windows it was asked to capture.
class FakeRoute final : public WindowRoute {
public:
    FakeRoute(std::vector<RouteWindow> windows, std::string error = "", bool hangs = false)
        : windows_(std::move(windows)), error_(std::move(error)), hangs_(hangs) {}
    ~FakeRoute() override { release(); }

    void release() {
        std::lock_guard<std::mutex> hold(lock_);
        hangs_ = false;
        released_.notify_all();
    }
    Outcome<std::vector<RouteWindow>> windows() override {
        std::unique_lock<std::mutex> hold(lock_);
        released_.wait_for(hold, 30s, [this] { return !hangs_; });
        if (!error_.empty()) return {std::nullopt, error_};
        return {windows_, {}};
    }
    Outcome<Image> captureImage(const RouteWindow& window) override {
        captured.push_back(window.handle);
        return {Image::of(1, 1, {0, 0, 0, 0}), {}};
    }
    Outcome<std::unique_ptr<WindowStream>> startStream(const RouteWindow& window) override {
        captured.push_back(window.handle);
        return {std::nullopt, "streamed"};
    }
    std::vector<std::string> captured;

private:
    std::vector<RouteWindow> windows_;
    std::string error_;
    std::mutex lock_;
    std::condition_variable released_;
    bool hangs_;
};

RouteWindow listed(std::uint32_t id, std::string appName, std::string handle = "") {
    return {{id, 0, 640, 480, std::nullopt, std::move(appName), std::nullopt, true}, std::move(handle)};
}

const std::uint32_t kNative = nativeWindowId(std::uint64_t{5});
const std::vector<RouteWindow> kX11{listed(1, "x11"), listed(2, "x11")};
// A compositor lists its XWayland window under the XID that X11 lists too.
const std::vector<RouteWindow> kWayland{listed(2, "wayland", "2"), listed(kNative, "wayland", "5")};

TEST(MergedRoutes, OneEntryPerIdFromEveryRouteThatAnsweredInTime) {
    const struct {
        std::shared_ptr<FakeRoute> x11, wayland;
        std::vector<std::pair<std::uint32_t, std::string>> listed;
        std::string error;
        bool hangs = false;
    } rows[] = {
        {std::make_shared<FakeRoute>(kX11), std::make_shared<FakeRoute>(kWayland),
         {{1, "x11"}, {2, "x11"}, {kNative, "wayland"}}, ""},
        {std::make_shared<FakeRoute>(kX11, "cannot open display"), std::make_shared<FakeRoute>(kWayland),
         {{2, "wayland"}, {kNative, "wayland"}}, ""},
        {std::make_shared<FakeRoute>(kX11, "cannot open display"), std::make_shared<FakeRoute>(kWayland, "gone"),
         {}, "cannot open display"},
        // A compositor that never answers costs X11 nothing, and the other way round.
        {std::make_shared<FakeRoute>(kX11), std::make_shared<FakeRoute>(kWayland, "", true),
         {{1, "x11"}, {2, "x11"}}, "", true},
        {std::make_shared<FakeRoute>(kX11, "", true), std::make_shared<FakeRoute>(kWayland),
         {{2, "wayland"}, {kNative, "wayland"}}, "", true},
    };
    for (const auto& row : rows) {
        // Routes that answer are waited for however slow a loaded machine runs them.
        MergedRoutes routes({row.x11, row.wayland}, row.hangs ? 20ms : 60s);
        const auto merged = routes.windows();
        std::vector<std::pair<std::uint32_t, std::string>> got;
        for (const auto& w : merged.value.value_or(std::vector<ShareableWindow>{})) got.emplace_back(w.id, w.appName);
        EXPECT_EQ(got, row.listed) << row.error;
        EXPECT_EQ(merged.error, row.error);
        EXPECT_EQ(merged.value.has_value(), row.error.empty());
        row.x11->release();
        row.wayland->release();
    }
}

TEST(MergedRoutes, EachWindowIsCapturedThroughTheRouteWhoseEntryWasKept) {
    auto x11 = std::make_shared<FakeRoute>(kX11);
    auto wayland = std::make_shared<FakeRoute>(kWayland);
    MergedRoutes routes({x11, wayland}, 60s);
    EXPECT_FALSE(routes.captureImage(kX11[0].window).value);  // nothing listed yet
    ASSERT_TRUE(routes.windows().value);
    EXPECT_TRUE(routes.captureImage(kWayland[0].window).value);
    EXPECT_TRUE(routes.captureImage(kWayland[1].window).value);
    EXPECT_EQ(routes.startStream(kWayland[1].window).error, "streamed");
    EXPECT_EQ(x11->captured, std::vector<std::string>{""});
    EXPECT_EQ(wayland->captured, (std::vector<std::string>{"5", "5"}));
}

}  // namespace
}  // namespace tevoli::window
