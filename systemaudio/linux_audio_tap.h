#pragma once
#include <pulse/pulseaudio.h>

#include <memory>

#include "pulse_connection.h"
#include "system_audio_tap.h"

namespace tevoli::systemaudio {

// What the user hears: the monitor of the sound server's default sink, recorded as
// float32 stereo at the rate of the default sink at start. When the default sink
// changes or goes away, a fresh record stream opens on the new default's monitor;
// with no sink, nothing is recorded until one appears.
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
    using Stream = std::unique_ptr<pa_stream, StreamUnref>;
    struct TimerFree {
        pa_mainloop_api* api;
        void operator()(pa_time_event* timer) const { api->time_free(timer); }
    };

    // These run on the loop's thread, or with the loop locked.
    Stream newStream();
    bool connect(pa_stream* stream, const std::string& monitor);
    void follow();
    void followForAWhile();
    void record(const pa_sink_info& sink);
    void dropStream();
    static void onRead(pa_stream* stream, size_t, void* self);
    static void onState(pa_stream* stream, void* self);
    static void onMoved(pa_stream* stream, void* self);
    static void onEvent(pa_context*, pa_subscription_event_type_t event, uint32_t, void* self);
    static void onLookAgain(pa_mainloop_api*, pa_time_event* timer, const struct timeval*, void* self);
    static void onDefaultSink(pa_context* context, const pa_sink_info* info, int eol, void* self);
    static void onAnySink(pa_context*, const pa_sink_info* info, int eol, void* self);
    static void onMovedTo(pa_context*, const pa_source_info* info, int eol, void* self);

    std::unique_ptr<PulseConnection> connection_;
    std::string streamName_;
    pa_sample_spec spec_ = {};
    Stream stream_;
    std::unique_ptr<pa_time_event, TimerFree> lookAgain_{nullptr, {nullptr}};
    bool lookingAgain_ = false;  // lookAgain_ is armed
    pa_usec_t settledAt_ = 0;    // looking again stops here
    std::string sinkName_;  // the sink whose monitor stream_ records
    uint32_t sinkIndex_ = PA_INVALID_INDEX;
    std::string monitorName_;  // the first stream's
    PendingBuffer* pending_ = nullptr;
    std::function<void(std::string)> lost_;
    bool started_ = false;      // the first stream ran: a failure now is a loss or a change of sink
    bool streamReady_ = false;  // stream_ reached READY
    bool verifying_ = false;    // the server moved stream_: dropped until its source proves a monitor
};

}  // namespace tevoli::systemaudio
