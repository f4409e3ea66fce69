#pragma once
#include <pulse/pulseaudio.h>

#include <memory>

#include "pulse_connection.h"
#include "system_audio_tap.h"

namespace tevoli::systemaudio {

// The default sink's monitor on the PulseAudio server, recorded as float32 stereo at
// the sink's own rate by a record stream of our own.
class LinuxAudioTap final : public SystemAudioTap {
public:
    LinuxAudioTap() = default;
    ~LinuxAudioTap() override { cleanup(); }
    LinuxAudioTap(const LinuxAudioTap&) = delete;
    LinuxAudioTap& operator=(const LinuxAudioTap&) = delete;

    bool createTap() override;
    bool readFormat(TapFormat& format) override;
    bool createDevice(std::string_view name) override;
    bool installReader(PendingBuffer& pending, std::function<void(std::string)> lost) override;
    bool startDevice() override;
    void cleanup() override;

private:
    struct StreamUnref {
        void operator()(pa_stream* stream) const { pa_stream_unref(stream); }
    };
    static void onRead(pa_stream* stream, size_t, void* self);
    static void onState(pa_stream* stream, void* self);

    std::unique_ptr<PulseConnection> connection;
    std::string sinkName;
    std::string monitorName;
    pa_sample_spec spec = {};
    std::unique_ptr<pa_stream, StreamUnref> stream;
    PendingBuffer* pending = nullptr;
    std::function<void(std::string)> lost;
    bool ready = false;
};

}  // namespace tevoli::systemaudio
