#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tevoli::systemaudio {

class PendingBuffer;

// What the tap delivers: the rate as the platform reports it, and channels per frame.
struct TapFormat {
    double sampleRate = 0;
    std::int64_t channels = 0;
};

// The platform's mix of everything that plays, seen as a tap wrapped in a capture
// device. Calls come in start-up order; a false result is that step's failure.
class SystemAudioTap {
public:
    virtual ~SystemAudioTap() = default;
    virtual bool createTap() = 0;
    virtual bool readFormat(TapFormat& format) = 0;
    virtual bool createDevice(std::string_view name) = 0;
    // Every run of captured bytes goes to `pending.append` on the platform's IO thread;
    // `lost` is called (on that thread) when the capture stops for good, with the reason.
    virtual bool installReader(PendingBuffer& pending, std::function<void(std::string)> lost) = 0;
    virtual bool startDevice() = 0;
    // Stops the device and dismantles everything; afterwards no byte is appended.
    // Called on every way out, after a failed step too.
    virtual void cleanup() = 0;
};

}  // namespace tevoli::systemaudio
