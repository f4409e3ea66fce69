#include "linux_audio_tap.h"

#include "pending_buffer.h"

namespace tevoli::systemaudio {
namespace {

constexpr const char* clientName = "tevoli-systemaudio";
constexpr uint32_t recordChannels = 2;
// Small fragments: by default the server hands recorded audio over in chunks of up
// to two seconds.
constexpr pa_usec_t fragmentUsec = 15000;

}  // namespace

bool LinuxAudioTap::createTap() {
    std::string error;
    connection = PulseConnection::open(clientName, error);
    if (!connection) return false;
    PulseConnection::Lock lock(*connection);
    struct Query {
        pa_threaded_mainloop* loop;
        std::string sink;
    } query{connection->loop(), {}};
    auto onInfo = [](pa_context*, const pa_server_info* info, void* data) {
        auto* q = static_cast<Query*>(data);
        if (info != nullptr && info->default_sink_name != nullptr) q->sink = info->default_sink_name;
        pa_threaded_mainloop_signal(q->loop, 0);
    };
    if (!connection->await(pa_context_get_server_info(connection->context(), onInfo, &query))) return false;
    sinkName = query.sink;
    return !sinkName.empty();
}

bool LinuxAudioTap::readFormat(TapFormat& format) {
    PulseConnection::Lock lock(*connection);
    struct Query {
        pa_threaded_mainloop* loop;
        bool found = false;
        pa_sample_spec spec = {};
        std::string monitor;
    } query{connection->loop(), false, {}, {}};
    auto onSink = [](pa_context*, const pa_sink_info* info, int eol, void* data) {
        auto* q = static_cast<Query*>(data);
        if (eol == 0 && info != nullptr && info->monitor_source_name != nullptr) {
            q->found = true;
            q->spec = info->sample_spec;
            q->monitor = info->monitor_source_name;
        }
        if (eol != 0) pa_threaded_mainloop_signal(q->loop, 0);
    };
    pa_operation* op = pa_context_get_sink_info_by_name(connection->context(), sinkName.c_str(), onSink, &query);
    if (!connection->await(op) || !query.found) return false;
    monitorName = query.monitor;
    spec = {PA_SAMPLE_FLOAT32LE, query.spec.rate, recordChannels};
    format = {static_cast<double>(spec.rate), recordChannels};
    return true;
}

bool LinuxAudioTap::createDevice(std::string_view name) {
    if (!pa_sample_spec_valid(&spec)) return false;
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    PulseConnection::Lock lock(*connection);
    stream.reset(pa_stream_new(connection->context(), std::string(name).c_str(), &spec, &map));
    return stream != nullptr;
}

bool LinuxAudioTap::installReader(PendingBuffer& buffer, std::function<void(std::string)> onLost) {
    PulseConnection::Lock lock(*connection);
    pending = &buffer;
    lost = std::move(onLost);
    pa_stream_set_read_callback(stream.get(), onRead, this);
    pa_stream_set_state_callback(stream.get(), onState, this);
    return true;
}

bool LinuxAudioTap::startDevice() {
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(-1);
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(fragmentUsec, &spec));
    PulseConnection::Lock lock(*connection);
    if (pa_stream_connect_record(stream.get(), monitorName.c_str(), &attr, PA_STREAM_ADJUST_LATENCY) < 0) {
        return false;
    }
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(stream.get());
        if (state == PA_STREAM_READY) break;
        if (!PA_STREAM_IS_GOOD(state)) return false;
        pa_threaded_mainloop_wait(connection->loop());
    }
    ready = true;
    return true;
}

void LinuxAudioTap::onRead(pa_stream* stream, size_t, void* self) {
    auto* tap = static_cast<LinuxAudioTap*>(self);
    while (pa_stream_readable_size(stream) > 0) {
        const void* data = nullptr;
        size_t size = 0;
        if (pa_stream_peek(stream, &data, &size) < 0 || size == 0) return;
        // A hole (no data) adds nothing; it still has to be dropped.
        tap->pending->append(data, size);
        pa_stream_drop(stream);
    }
}

void LinuxAudioTap::onState(pa_stream* stream, void* self) {
    auto* tap = static_cast<LinuxAudioTap*>(self);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (tap->ready && !PA_STREAM_IS_GOOD(state)) {
        tap->ready = false;
        tap->lost(pa_strerror(pa_context_errno(pa_stream_get_context(stream))));
    }
    pa_threaded_mainloop_signal(tap->connection->loop(), 0);
}

void LinuxAudioTap::cleanup() {
    if (!connection) return;
    {
        PulseConnection::Lock lock(*connection);
        if (stream) {
            pa_stream_set_read_callback(stream.get(), nullptr, nullptr);
            pa_stream_set_state_callback(stream.get(), nullptr, nullptr);
            pa_stream_disconnect(stream.get());
            stream.reset();
        }
    }
    connection.reset();
}

}  // namespace tevoli::systemaudio
