#pragma once
#include <cmath>
#include <functional>
#include <map>
#include <vector>

#include "media_services.h"

namespace tevoli::frames {

// In-memory video and recognizer that record what the core asked of them.
class FakeMediaServices final : public MediaServices {
public:
    bool hasVideo = true;
    double duration = 10;
    // Sampling times whose frame cannot be decoded.
    std::function<bool(double)> undecodable = [](double) { return false; };
    std::vector<std::string> openedVideos;
    std::vector<double> askedTimes;
    // Whether the output directory existed when the video was opened.
    std::function<void()> onOpenVideo = [] {};

    bool recognizerStarts = true;
    int recognizersOpened = 0;
    std::map<std::string, std::vector<std::string>> linesByPath;
    std::vector<std::string> recognizedPaths;

    std::unique_ptr<Video> openVideo(const std::string& path, const FrameSettings&) override {
        openedVideos.push_back(path);
        onOpenVideo();
        if (!hasVideo) return nullptr;
        return std::make_unique<FakeVideo>(*this);
    }

    std::unique_ptr<TextRecognizer> openTextRecognizer(std::string& error) override {
        ++recognizersOpened;
        if (!recognizerStarts) {
            error = "no model";
            return nullptr;
        }
        return std::make_unique<FakeRecognizer>(*this);
    }

private:
    class FakeVideo final : public Video {
    public:
        explicit FakeVideo(FakeMediaServices& owner) : owner_(owner), pixels_(4 * 2 * 3, 128) {}
        double durationSeconds() override { return owner_.duration; }
        std::optional<PixelView> frameNear(double seconds) override {
            owner_.askedTimes.push_back(seconds);
            if (owner_.undecodable(seconds)) return std::nullopt;
            return PixelView{pixels_.data(), 4, 2, 12, PixelLayout::rgb};
        }

    private:
        FakeMediaServices& owner_;
        std::vector<std::uint8_t> pixels_;
    };

    class FakeRecognizer final : public TextRecognizer {
    public:
        explicit FakeRecognizer(FakeMediaServices& owner) : owner_(owner) {}
        std::vector<std::string> recognizeLines(const std::string& path) override {
            owner_.recognizedPaths.push_back(path);
            auto found = owner_.linesByPath.find(path);
            return found == owner_.linesByPath.end() ? std::vector<std::string>{} : found->second;
        }

    private:
        FakeMediaServices& owner_;
    };
};

}  // namespace tevoli::frames
