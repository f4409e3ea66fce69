#include "merged_routes.h"

#include <algorithm>
#include <condition_variable>
#include <optional>
#include <thread>

namespace tevoli::window {
namespace {

// The routes' answers to one listing, shared with the threads that ask them: a thread
// stuck on its server outlives the listing.
struct Answers {
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<std::optional<Outcome<std::vector<RouteWindow>>>> byRoute;
    std::size_t count = 0;

    bool all() const { return count == byRoute.size(); }
    bool anyWindows() const {
        return std::any_of(byRoute.begin(), byRoute.end(), [](const auto& a) { return a && a->value; });
    }
};

constexpr const char* kNotListed = "the window is not in the latest list";

}  // namespace

MergedRoutes::MergedRoutes(std::vector<std::shared_ptr<WindowRoute>> routes, std::chrono::milliseconds wait)
    : routes_(std::move(routes)), wait_(wait) {}

Outcome<std::vector<ShareableWindow>> MergedRoutes::windows() {
    const auto deadline = std::chrono::steady_clock::now() + wait_;
    auto answers = std::make_shared<Answers>();
    answers->byRoute.resize(routes_.size());
    for (std::size_t i = 0; i < routes_.size(); ++i) {
        std::thread([answers, route = routes_[i], i] {
            auto listed = route->windows();
            std::lock_guard<std::mutex> hold(answers->lock);
            answers->byRoute[i] = std::move(listed);
            ++answers->count;
            answers->arrived.notify_all();
        }).detach();
    }
    std::unique_lock<std::mutex> hold(answers->lock);
    answers->arrived.wait_until(hold, deadline, [&] { return answers->all(); });
    // Past the deadline a slow route is not waited for, unless nothing else came.
    answers->arrived.wait(hold, [&] { return answers->all() || answers->anyWindows(); });

    if (!answers->anyWindows()) return {std::nullopt, routes_.empty() ? "" : answers->byRoute[0]->error};
    std::vector<ShareableWindow> merged;
    std::map<std::uint32_t, std::pair<std::size_t, RouteWindow>> latest;
    for (std::size_t i = 0; i < routes_.size(); ++i) {
        if (!answers->byRoute[i] || !answers->byRoute[i]->value) continue;
        for (RouteWindow& w : *answers->byRoute[i]->value) {
            if (latest.count(w.window.id)) continue;
            merged.push_back(w.window);
            latest.emplace(w.window.id, std::make_pair(i, std::move(w)));
        }
    }
    std::lock_guard<std::mutex> holdLatest(lock_);
    latest_ = std::move(latest);
    return {std::move(merged), {}};
}

std::optional<std::pair<std::shared_ptr<WindowRoute>, RouteWindow>> MergedRoutes::listed(std::uint32_t id) {
    std::lock_guard<std::mutex> hold(lock_);
    const auto it = latest_.find(id);
    if (it == latest_.end()) return std::nullopt;
    return std::make_pair(routes_[it->second.first], it->second.second);
}

Outcome<Image> MergedRoutes::captureImage(const ShareableWindow& window) {
    const auto found = listed(window.id);
    if (!found) return {std::nullopt, kNotListed};
    return found->first->captureImage(found->second);
}

Outcome<std::unique_ptr<WindowStream>> MergedRoutes::startStream(const ShareableWindow& window) {
    const auto found = listed(window.id);
    if (!found) return {std::nullopt, kNotListed};
    return found->first->startStream(found->second);
}

}  // namespace tevoli::window
