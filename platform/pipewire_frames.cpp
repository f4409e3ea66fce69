// A PipeWire video stream read through the library's own thread: the frame
// callback keeps the newest buffer out of the stream's pool instead of copying it,
// and gives the one it held back.
#include "pipewire_frames.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>

namespace tevoli {
namespace {

template <auto Free>
struct Deleter {
    template <typename T>
    void operator()(T* p) const { Free(p); }
};
using ThreadLoop = std::unique_ptr<pw_thread_loop, Deleter<pw_thread_loop_destroy>>;
using Context = std::unique_ptr<pw_context, Deleter<pw_context_destroy>>;
using Core = std::unique_ptr<pw_core, Deleter<pw_core_disconnect>>;
using Stream = std::unique_ptr<pw_stream, Deleter<pw_stream_destroy>>;

// Screen casts send whole frames of 4-byte pixels; both orders of the fourth byte
// are read alike, as it is never looked at.
constexpr std::uint32_t kFormats[] = {SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA};

}  // namespace

struct PipeWireFrames::State {
    ThreadLoop loop;
    Context context;
    Core core;
    Stream stream;
    spa_hook streamListener{};
    spa_hook coreListener{};

    std::mutex lock;  // guards what follows; the stream's thread takes it for each frame
    std::condition_variable arrived;
    pw_buffer* held = nullptr;  // the newest frame, kept out of the stream's pool
    int width = 0;
    int height = 0;
    bool ended = false;

    void end() {
        std::lock_guard<std::mutex> hold(lock);
        ended = true;
        arrived.notify_all();
    }

    void formatChosen(const spa_pod* format) {
        spa_video_info_raw info{};
        if (spa_format_video_raw_parse(format, &info) < 0) return;
        std::lock_guard<std::mutex> hold(lock);
        width = static_cast<int>(info.size.width);
        height = static_cast<int>(info.size.height);
    }

    static bool complete(const pw_buffer* buffer) {
        const spa_buffer* b = buffer->buffer;
        return b->n_datas > 0 && b->datas[0].data != nullptr && b->datas[0].chunk->size > 0 &&
               (b->datas[0].chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) == 0;
    }

    void frameArrived() {
        pw_buffer* newest = nullptr;
        while (pw_buffer* buffer = pw_stream_dequeue_buffer(stream.get())) {
            if (!complete(buffer)) {
                pw_stream_queue_buffer(stream.get(), buffer);
                continue;
            }
            if (newest != nullptr) pw_stream_queue_buffer(stream.get(), newest);
            newest = buffer;
        }
        if (newest == nullptr) return;
        pw_buffer* previous = nullptr;
        {
            std::lock_guard<std::mutex> hold(lock);
            previous = held;
            held = newest;
            arrived.notify_all();
        }
        if (previous != nullptr) pw_stream_queue_buffer(stream.get(), previous);
    }
};

namespace {

void onStateChanged(void* data, pw_stream_state, pw_stream_state state, const char*) {
    if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED)
        static_cast<PipeWireFrames::State*>(data)->end();
}

void onParamChanged(void* data, std::uint32_t id, const spa_pod* param) {
    if (id == SPA_PARAM_Format && param != nullptr) static_cast<PipeWireFrames::State*>(data)->formatChosen(param);
}

void onProcess(void* data) { static_cast<PipeWireFrames::State*>(data)->frameArrived(); }

// The stream frees a buffer it takes back (the link went, the format changed): the
// frame held in it goes first, after any reader of it is done.
void onRemoveBuffer(void* data, pw_buffer* buffer) {
    auto* state = static_cast<PipeWireFrames::State*>(data);
    std::lock_guard<std::mutex> hold(state->lock);
    if (state->held == buffer) state->held = nullptr;
}

// The daemon itself failing, or going away, ends every stream.
void onCoreError(void* data, std::uint32_t id, int, int, const char*) {
    if (id == PW_ID_CORE) static_cast<PipeWireFrames::State*>(data)->end();
}

const pw_stream_events kStreamEvents = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = onStateChanged;
    events.param_changed = onParamChanged;
    events.process = onProcess;
    events.remove_buffer = onRemoveBuffer;
    return events;
}();

const pw_core_events kCoreEvents = [] {
    pw_core_events events{};
    events.version = PW_VERSION_CORE_EVENTS;
    events.error = onCoreError;
    return events;
}();

// Holds the loop's lock for a scope.
class LoopLock {
public:
    explicit LoopLock(pw_thread_loop* loop) : loop_(loop) { pw_thread_loop_lock(loop_); }
    ~LoopLock() { pw_thread_loop_unlock(loop_); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pw_thread_loop* loop_;
};

}  // namespace

std::unique_ptr<PipeWireFrames> PipeWireFrames::open(std::uint32_t node, std::string& error) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { pw_init(nullptr, nullptr); });
    auto state = std::make_unique<State>();
    state->loop.reset(pw_thread_loop_new("tevoli-frames", nullptr));
    if (!state->loop) {
        error = "cannot make a PipeWire loop";
        return nullptr;
    }
    state->context.reset(pw_context_new(pw_thread_loop_get_loop(state->loop.get()), nullptr, 0));
    if (!state->context || pw_thread_loop_start(state->loop.get()) < 0) {
        error = "cannot start a PipeWire loop";
        return nullptr;
    }
    // From here the loop runs: each step holds its lock, and the frames object, made
    // before the stream is connected, stops the loop first when it goes.
    std::unique_ptr<PipeWireFrames> frames(new PipeWireFrames(std::move(state)));
    State& s = *frames->state_;
    LoopLock locked(s.loop.get());
    s.core.reset(pw_context_connect(s.context.get(), nullptr, 0));
    if (!s.core) {
        error = std::string("cannot reach PipeWire: ") + std::strerror(errno);
        return nullptr;
    }
    pw_core_add_listener(s.core.get(), &s.coreListener, &kCoreEvents, &s);
    s.stream.reset(pw_stream_new(s.core.get(), "tevoli window capture",
                                 pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                                   PW_KEY_MEDIA_ROLE, "Screen", nullptr)));
    if (!s.stream) {
        error = "cannot make a PipeWire stream";
        return nullptr;
    }
    pw_stream_add_listener(s.stream.get(), &s.streamListener, &kStreamEvents, &s);
    // Memory buffers and the crop are asked for with the format, not once it is
    // chosen: buffers asked for later are made anew, and a frame sent into the first
    // ones is lost.
    std::uint8_t bytes[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(bytes, sizeof bytes);
    const spa_rectangle someSize{640, 480}, smallest{1, 1}, largest{16384, 16384};
    const spa_fraction noRate{0, 1}, fastest{1000, 1};
    const spa_pod* params[3];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(3, kFormats[0], kFormats[0], kFormats[1]), SPA_FORMAT_VIDEO_size,
        SPA_POD_CHOICE_RANGE_Rectangle(&someSize, &smallest, &largest), SPA_FORMAT_VIDEO_framerate,
        SPA_POD_CHOICE_RANGE_Fraction(&noRate, &noRate, &fastest)));
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
    params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_VideoCrop),
        SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_region))));
    const int connected = pw_stream_connect(
        s.stream.get(), PW_DIRECTION_INPUT, node,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 3);
    if (connected < 0) {
        error = std::string("cannot connect to the screen cast: ") + std::strerror(-connected);
        return nullptr;
    }
    return frames;
}

PipeWireFrames::PipeWireFrames(std::unique_ptr<State> state) : state_(std::move(state)) {}

PipeWireFrames::~PipeWireFrames() {
    // No callback may run once the pieces it uses go.
    pw_thread_loop_stop(state_->loop.get());
    state_->stream.reset();
    state_->core.reset();
    state_->context.reset();
}

bool PipeWireFrames::useLatest(std::chrono::milliseconds wait, const std::function<void(const VideoFrame&)>& use) {
    State& s = *state_;
    std::unique_lock<std::mutex> hold(s.lock);
    s.arrived.wait_for(hold, wait, [&s] { return s.held != nullptr || s.ended; });
    if (s.held == nullptr || s.ended) return false;
    const spa_buffer* buffer = s.held->buffer;
    const spa_data& data = buffer->datas[0];
    VideoFrame frame;
    frame.width = s.width;
    frame.height = s.height;
    frame.stride = data.chunk->stride > 0 ? data.chunk->stride : s.width * 4;
    frame.pixels = static_cast<const std::uint8_t*>(data.data) + data.chunk->offset;
    // A frame shorter than its size says is read as far as it goes.
    const std::size_t rows = data.chunk->size / static_cast<std::size_t>(frame.stride);
    frame.height = std::min<int>(frame.height, static_cast<int>(rows));
    if (frame.width * 4 > frame.stride) return false;
    const auto* crop = static_cast<const spa_meta_region*>(
        spa_buffer_find_meta_data(buffer, SPA_META_VideoCrop, sizeof(spa_meta_region)));
    if (crop != nullptr && crop->region.size.width > 0 && crop->region.size.height > 0) {
        frame.crop = VideoFrame::Region{crop->region.position.x, crop->region.position.y,
                                        static_cast<int>(crop->region.size.width),
                                        static_cast<int>(crop->region.size.height)};
    }
    use(frame);
    return true;
}

bool PipeWireFrames::ended() {
    std::lock_guard<std::mutex> hold(state_->lock);
    return state_->ended;
}

}  // namespace tevoli
