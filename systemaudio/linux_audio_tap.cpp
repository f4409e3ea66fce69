#include "linux_audio_tap.h"

#include <pulse/rtclock.h>

#include "pending_buffer.h"

namespace tevoli::systemaudio {
namespace {

constexpr const char* kClientName = "tevoli-systemaudio";
constexpr uint32_t kRecordChannels = 2;
// Small fragments: by default the server hands recorded audio over in chunks of up
// to two seconds.
constexpr pa_usec_t kFragmentUsec = 15000;
// A server may announce a change before it reports it (one lands a new default a
// moment after its event, another works out a new default after a sink's removal),
// so after each event the default is looked at again for a while, never otherwise.
constexpr pa_usec_t kLookAgainUsec = 100000;
constexpr pa_usec_t kSettleUsec = 2000000;

// The sink, or nothing for the end-of-list call and for failures.
const pa_sink_info* sinkOf(const pa_sink_info* info, int eol) {
    const bool found = eol == 0 && info != nullptr && info->name != nullptr && info->monitor_source_name != nullptr;
    return found ? info : nullptr;
}

}  // namespace

bool LinuxAudioTap::createTap() {
    connection_ = PulseConnection::open(kClientName);
    if (!connection_) return false;
    PulseConnection::Lock lock(*connection_);
    const std::optional<PulseDefaults> defaults = connection_->defaults();
    // A server may go on naming a default sink that is gone.
    if (!defaults || defaults->sink.empty()) return false;
    struct Query {
        pa_threaded_mainloop* loop;
        std::optional<pa_sample_spec> spec;
        uint32_t index;
        std::string name, monitor;
    } query{connection_->loop(), std::nullopt, PA_INVALID_INDEX, {}, {}};
    auto onSink = [](pa_context*, const pa_sink_info* info, int eol, void* data) {
        auto* q = static_cast<Query*>(data);
        if (const pa_sink_info* sink = sinkOf(info, eol)) {
            q->spec = sink->sample_spec;
            q->index = sink->index;
            q->name = sink->name;
            q->monitor = sink->monitor_source_name;
        }
        if (eol != 0) pa_threaded_mainloop_signal(q->loop, 0);
    };
    pa_context* context = connection_->context();
    if (!connection_->await(pa_context_get_sink_info_by_name(context, defaults->sink.c_str(), onSink, &query)) ||
        !query.spec) {
        return false;
    }
    sinkName_ = query.name;
    sinkIndex_ = query.index;
    monitorName_ = query.monitor;
    // Kept for the whole run, whatever sink comes later: the server converts.
    spec_ = {PA_SAMPLE_FLOAT32LE, query.spec->rate, kRecordChannels};
    return true;
}

bool LinuxAudioTap::readFormat(TapFormat& format) {
    format = {static_cast<double>(spec_.rate), kRecordChannels};
    return true;
}

bool LinuxAudioTap::createDevice(std::string_view name) {
    if (!pa_sample_spec_valid(&spec_)) return false;
    streamName_ = name;
    PulseConnection::Lock lock(*connection_);
    stream_ = newStream();
    return stream_ != nullptr;
}

bool LinuxAudioTap::installReader(PendingBuffer& pending, std::function<void(std::string)> lost) {
    PulseConnection::Lock lock(*connection_);
    pending_ = &pending;
    lost_ = std::move(lost);
    return true;
}

bool LinuxAudioTap::startDevice() {
    PulseConnection::Lock lock(*connection_);
    if (!connect(stream_.get(), monitorName_)) return false;
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(stream_.get());
        if (state == PA_STREAM_READY) break;
        if (!PA_STREAM_IS_GOOD(state)) return false;
        pa_threaded_mainloop_wait(connection_->loop());
    }
    started_ = true;
    streamReady_ = true;
    pa_context* context = connection_->context();
    pa_context_set_subscribe_callback(context, onEvent, this);
    const auto events = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER);
    if (pa_operation* op = pa_context_subscribe(context, events, nullptr, nullptr)) pa_operation_unref(op);
    lookAgain_ = {pa_context_rttime_new(context, PA_USEC_INVALID, onLookAgain, this),
                  {pa_threaded_mainloop_get_api(connection_->loop())}};
    // The default may have changed since it was read.
    followForAWhile();
    return true;
}

LinuxAudioTap::Stream LinuxAudioTap::newStream() {
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    Stream stream(pa_stream_new(connection_->context(), streamName_.c_str(), &spec_, &map));
    if (stream) {
        pa_stream_set_read_callback(stream.get(), onRead, this);
        pa_stream_set_state_callback(stream.get(), onState, this);
        pa_stream_set_moved_callback(stream.get(), onMoved, this);
    }
    return stream;
}

bool LinuxAudioTap::connect(pa_stream* stream, const std::string& monitor) {
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(-1);
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(kFragmentUsec, &spec_));
    // Never moved by the server: left to itself it moves a record stream whose sink
    // went away to the default source, a microphone. The monitor is named, not
    // asked for as the default monitor, which one server resolves to the default source.
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    return pa_stream_connect_record(stream, monitor.c_str(), &attr, flags) == 0;
}

void LinuxAudioTap::follow() {
    connection_->queryDefaults([this](std::optional<PulseDefaults> defaults) {
        if (!defaults || (stream_ && defaults->sink == sinkName_)) return;
        pa_context* context = connection_->context();
        pa_operation* op = nullptr;
        if (!defaults->sink.empty()) {
            op = pa_context_get_sink_info_by_name(context, defaults->sink.c_str(), onDefaultSink, this);
        } else if (!stream_) {
            op = pa_context_get_sink_info_list(context, onAnySink, this);
        }
        if (op != nullptr) pa_operation_unref(op);
    });
}

void LinuxAudioTap::followForAWhile() {
    follow();
    settledAt_ = pa_rtclock_now() + kSettleUsec;
    if (!lookingAgain_) {
        lookingAgain_ = true;
        pa_context_rttime_restart(connection_->context(), lookAgain_.get(), pa_rtclock_now() + kLookAgainUsec);
    }
}

void LinuxAudioTap::onLookAgain(pa_mainloop_api*, pa_time_event* timer, const struct timeval*, void* self) {
    auto* tap = static_cast<LinuxAudioTap*>(self);
    tap->follow();
    const pa_usec_t now = pa_rtclock_now();
    tap->lookingAgain_ = now < tap->settledAt_;
    pa_context_rttime_restart(tap->connection_->context(), timer,
                              tap->lookingAgain_ ? now + kLookAgainUsec : PA_USEC_INVALID);
}

void LinuxAudioTap::onDefaultSink(pa_context* context, const pa_sink_info* info, int eol, void* self) {
    auto* tap = static_cast<LinuxAudioTap*>(self);
    if (eol < 0) {
        // The default named is no sink: once its default sink is gone, one server
        // names a placeholder to the connections that saw it go, for good.
        if (!tap->stream_) {
            if (pa_operation* op = pa_context_get_sink_info_list(context, onAnySink, self)) pa_operation_unref(op);
        }
        return;
    }
    const pa_sink_info* sink = sinkOf(info, eol);
    // An answer overtaken by a later move of our own changes nothing.
    if (sink == nullptr || (tap->stream_ && tap->sinkName_ == sink->name)) return;
    tap->record(*sink);
}

void LinuxAudioTap::onAnySink(pa_context*, const pa_sink_info* info, int eol, void* self) {
    // With no default sink named, the first sink is what the user hears.
    auto* tap = static_cast<LinuxAudioTap*>(self);
    if (const pa_sink_info* sink = sinkOf(info, eol); sink != nullptr && !tap->stream_) tap->record(*sink);
}

void LinuxAudioTap::record(const pa_sink_info& sink) {
    dropStream();
    Stream stream = newStream();
    if (!stream || !connect(stream.get(), sink.monitor_source_name)) return;
    stream_ = std::move(stream);
    sinkName_ = sink.name;
    sinkIndex_ = sink.index;
}

void LinuxAudioTap::dropStream() {
    if (!stream_) return;
    pa_stream* stream = stream_.get();
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_moved_callback(stream, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) pa_stream_disconnect(stream);
    stream_.reset();
    streamReady_ = false;
    verifying_ = false;
}

void LinuxAudioTap::onRead(pa_stream* stream, size_t, void* self) {
    auto* tap = static_cast<LinuxAudioTap*>(self);
    while (pa_stream_readable_size(stream) > 0) {
        const void* data = nullptr;
        size_t size = 0;
        if (pa_stream_peek(stream, &data, &size) < 0 || size == 0) return;
        // A hole (no data) adds nothing; it still has to be dropped.
        if (!tap->verifying_) tap->pending_->append(data, size);
        pa_stream_drop(stream);
    }
}

void LinuxAudioTap::onState(pa_stream* stream, void* self) {
    auto* tap = static_cast<LinuxAudioTap*>(self);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    pa_threaded_mainloop_signal(tap->connection_->loop(), 0);  // startDevice waits for the first stream
    if (!tap->started_) return;
    if (state == PA_STREAM_READY) tap->streamReady_ = true;
    if (PA_STREAM_IS_GOOD(state)) return;
    pa_context* context = tap->connection_->context();
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
        tap->started_ = false;
        tap->lost_(pa_strerror(pa_context_errno(context)));
        return;
    }
    // The stream died with its sink: on to the new default. One that never ran waits
    // for the next event or look instead of retrying at once.
    const bool ran = tap->streamReady_;
    tap->dropStream();
    if (ran) tap->followForAWhile();
}

void LinuxAudioTap::onMoved(pa_stream* stream, void* self) {
    // Some servers move even a stream that asked not to be: record nothing until the
    // new source proves to be a sink's monitor.
    auto* tap = static_cast<LinuxAudioTap*>(self);
    tap->verifying_ = true;
    pa_operation* op = pa_context_get_source_info_by_index(tap->connection_->context(),
                                                           pa_stream_get_device_index(stream), onMovedTo, self);
    if (op != nullptr) pa_operation_unref(op);
}

void LinuxAudioTap::onMovedTo(pa_context*, const pa_source_info* info, int eol, void* self) {
    auto* tap = static_cast<LinuxAudioTap*>(self);
    if (eol > 0 || !tap->verifying_) return;
    if (eol < 0 || info == nullptr || info->monitor_of_sink == PA_INVALID_INDEX ||
        info->monitor_of_sink_name == nullptr) {
        tap->dropStream();
        tap->followForAWhile();
        return;
    }
    tap->verifying_ = false;
    tap->sinkName_ = info->monitor_of_sink_name;
    tap->sinkIndex_ = info->monitor_of_sink;
    tap->followForAWhile();
}

void LinuxAudioTap::onEvent(pa_context*, pa_subscription_event_type_t event, uint32_t index, void* self) {
    auto* tap = static_cast<LinuxAudioTap*>(self);
    const auto facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto type = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SINK && type == PA_SUBSCRIPTION_EVENT_REMOVE && index == tap->sinkIndex_) {
        // One server ends the stream of a sink that is gone, another leaves it
        // unattached, to be found under the same name should the sink come back.
        tap->dropStream();
    }
    // A new default, or a sink that came or went; sinks change volume and state all the time.
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER ||
        (facility == PA_SUBSCRIPTION_EVENT_SINK && type != PA_SUBSCRIPTION_EVENT_CHANGE)) {
        tap->followForAWhile();
    }
}

void LinuxAudioTap::cleanup() {
    if (!connection_) return;
    // The loop's thread first: a reply still in flight would find the tap half gone.
    connection_->stop();
    lookAgain_.reset();
    dropStream();
    connection_.reset();
}

}  // namespace tevoli::systemaudio
