#include "merged_routes.h"

#include <gtest/gtest.h>

#include <future>

namespace tevoli::window {
namespace {

using namespace std::chrono_literals;

// Lists its windows, or fails with its error once `answers` is ready; records the handles
// of the windows it was asked to capture.
class FakeRoute final : public WindowRoute {
public:
    FakeRoute(std::vector<RouteWindow> windows, std::string error = "", std::shared_future<void> answers = {})
        : windows_(std::move(windows)), error_(std::move(error)), answers_(std::move(answers)) {}
    Outcome<std::vector<RouteWindow>> windows() override {
        if (answers_.valid()) answers_.wait();
        if (!error_.empty()) return {std::nullopt, error_};
        return {windows_, {}};
    }
    Outcome<Image> captureImage(const RouteWindow& window) override {
        captured.push_back(window.handle);
        return {Image::of(1, 1, {0, 0, 0, 0}), {}};
    }
    Outcome<std::unique_ptr<WindowStream>> startStream(const RouteWindow&) override { return {}; }
    std::vector<std::string> captured;

private:
    std::vector<RouteWindow> windows_;
    std::string error_;
    std::shared_future<void> answers_;
};

RouteWindow listed(std::uint32_t id, std::string appName, std::string handle = "") {
    return {{id, 0, 640, 480, std::nullopt, std::move(appName), std::nullopt, true}, std::move(handle)};
}

const std::uint32_t kNative = nativeWindowId(std::uint64_t{5});
const std::vector<RouteWindow> kX11{listed(1, "x11"), listed(2, "x11")};
// A compositor lists its XWayland window under the XID that X11 lists too.
const std::vector<RouteWindow> kWayland{listed(2, "wayland", "2"), listed(kNative, "wayland", "5")};

TEST(MergedRoutes, OneEntryPerIdFromEveryRouteThatAnsweredInTime) {
    std::promise<void> testEnds;
    const std::shared_future<void> never = testEnds.get_future().share();
    const auto x11 = std::make_shared<FakeRoute>(kX11), wayland = std::make_shared<FakeRoute>(kWayland);
    const auto noX11 = std::make_shared<FakeRoute>(kX11, "cannot open display");
    const auto hungX11 = std::make_shared<FakeRoute>(kX11, "", never);
    const auto hungWayland = std::make_shared<FakeRoute>(kWayland, "", never);
    const struct {
        std::shared_ptr<FakeRoute> first, second;
        std::vector<std::pair<std::uint32_t, std::string>> listed;
        std::string error;
    } rows[] = {
        {x11, wayland, {{1, "x11"}, {2, "x11"}, {kNative, "wayland"}}, ""},
        {noX11, wayland, {{2, "wayland"}, {kNative, "wayland"}}, ""},
        {noX11, std::make_shared<FakeRoute>(kWayland, "gone"), {}, "cannot open display"},
        // A compositor that never answers costs X11 nothing, and the other way round.
        {x11, hungWayland, {{1, "x11"}, {2, "x11"}}, ""},
        {hungX11, wayland, {{2, "wayland"}, {kNative, "wayland"}}, ""},
    };
    for (const auto& row : rows) {
        // Routes that answer are waited for however slow a loaded machine runs them.
        const bool hung = row.first == hungX11 || row.second == hungWayland;
        const auto merged = MergedRoutes({row.first, row.second}, hung ? 20ms : 60s).windows();
        std::vector<std::pair<std::uint32_t, std::string>> got;
        for (const auto& w : merged.value.value_or(std::vector<ShareableWindow>{}))
            got.emplace_back(w.id, w.appName);
        EXPECT_EQ(std::make_tuple(got, merged.error, merged.value.has_value()),
                  std::make_tuple(row.listed, row.error, row.error.empty()));
    }
    testEnds.set_value();
}

TEST(MergedRoutes, EachWindowIsCapturedThroughTheRouteWhoseEntryWasKept) {
    const auto x11 = std::make_shared<FakeRoute>(kX11), wayland = std::make_shared<FakeRoute>(kWayland);
    MergedRoutes routes({x11, wayland}, 60s);
    EXPECT_FALSE(routes.captureImage(kX11[0].window).value);  // nothing listed yet
    ASSERT_TRUE(routes.windows().value);
    EXPECT_TRUE(routes.captureImage(kWayland[0].window).value);
    EXPECT_TRUE(routes.captureImage(kWayland[1].window).value);
    EXPECT_EQ(x11->captured, std::vector<std::string>{""});
    EXPECT_EQ(wayland->captured, std::vector<std::string>{"5"});
}

}  // namespace
}  // namespace tevoli::window
