#pragma once
#include <string>
#include <vector>

#include "pending_buffer.h"
#include "system_audio_tap.h"

namespace tevoli::systemaudio {

// Records what the capture asked of the tap; `failAt` names the step that fails.
class FakeAudioTap : public SystemAudioTap {
public:
    std::string failAt;
    TapFormat format{48000.0, 2};
    std::vector<std::string> calls;
    std::string deviceName;
    PendingBuffer* pending = nullptr;
    std::function<void(std::string)> lost;

    bool createTap() override { return step("createTap"); }
    bool readFormat(TapFormat& out) override {
        out = format;
        return step("readFormat");
    }
    bool createDevice(std::string_view name) override {
        deviceName = name;
        return step("createDevice");
    }
    bool installReader(PendingBuffer& buffer, std::function<void(std::string)> onLost) override {
        pending = &buffer;
        lost = std::move(onLost);
        return step("installReader");
    }
    bool startDevice() override { return step("startDevice"); }
    void cleanup() override { calls.push_back("cleanup"); }

private:
    bool step(const std::string& name) {
        calls.push_back(name);
        return name != failAt;
    }
};

}  // namespace tevoli::systemaudio
