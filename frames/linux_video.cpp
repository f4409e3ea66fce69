// Frames for increasing sampling times, decoding as little as the video allows.
//
// A keyframe shown inside a time's window is decoded alone. Otherwise a run
// decodes forward from the last keyframe shown at or before the window's start.
// The decoder gives frames in display order, so the first frame at or after the
// window's start is the answer when it lies inside the window; when it lies
// beyond, no frame is shown in the window at all, and it is kept for the times
// that follow. The container's index lists keyframes by their decoding time,
// which may be well before their display time, so a second reader looks up when
// a listed keyframe is shown, without moving the first one.
#include "linux_video.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "linux_demuxer.h"
#include "linux_ffmpeg.h"
#include "linux_picture.h"

namespace tevoli::frames {
namespace {

constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();
// Timestamps become seconds through doubles, so a frame exactly a second from a
// sampling time can come out a hair beyond it (595200 ticks of 1/19200 s are
// 31.000000000000004 s). A microsecond is far below any frame spacing.
constexpr double kRounding = 1e-6;

// Seconds on the file's timeline: the container's start is 0, so a video track
// that starts late, or a transport stream whose clock starts at 1.4 s, keeps
// its frames where a player shows them.
struct FileClock {
    AVRational timeBase;
    double start;

    double seconds(int64_t timestamp) const {
        return timestamp == AV_NOPTS_VALUE ? kUnknown : static_cast<double>(timestamp) * av_q2d(timeBase) - start;
    }
};

FileClock fileClockOf(const AVFormatContext& format, const AVStream& stream) {
    if (format.start_time != AV_NOPTS_VALUE)
        return {stream.time_base, static_cast<double>(format.start_time) / AV_TIME_BASE};
    if (stream.start_time != AV_NOPTS_VALUE)
        return {stream.time_base, static_cast<double>(stream.start_time) * av_q2d(stream.time_base)};
    return {stream.time_base, 0};
}

double secondsPerFrame(AVFormatContext& format, AVStream& stream) {
    const AVRational rate = av_guess_frame_rate(&format, &stream, nullptr);
    return rate.num > 0 && rate.den > 0 ? 1 / av_q2d(rate) : kUnknown;
}

// A keyframe the container lists; when it is shown, once looked up.
struct Keyframe {
    int64_t indexTime;
    std::optional<double> shown;  // NaN when it cannot be found
    bool aloneFailed = false;     // decoded on its own, it gave no frame for its window
};

class FfmpegVideo final : public Video {
public:
    FfmpegVideo(std::unique_ptr<Demuxer> reader, std::unique_ptr<Demuxer> scout, CodecHandle decoder)
        : reader_(std::move(reader)),
          scout_(std::move(scout)),
          decoder_(std::move(decoder)),
          clock_(fileClockOf(*reader_->format(), *reader_->stream())),
          picture_(quarterTurns(*reader_->stream())),
          frameStep_(secondsPerFrame(*reader_->format(), *reader_->stream())) {
        if (scout_)
            for (int64_t time : scout_->listedKeyframes()) keyframes_.push_back({time, std::nullopt, false});
    }

    bool usable() const { return packet_ && scoutPacket_ && decoded_ && held_; }

    double durationSeconds() override {
        const AVFormatContext* format = reader_->format();
        const AVStream* stream = reader_->stream();
        if (format->duration != AV_NOPTS_VALUE && format->duration > 0)
            return static_cast<double>(format->duration) / AV_TIME_BASE;
        if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
            return static_cast<double>(stream->duration) * av_q2d(stream->time_base);
        return kUnknown;
    }

    std::optional<PixelView> frameNear(double seconds) override {
        const double earliest = seconds - kFrameTolerance - kRounding;
        const double latest = seconds + kFrameTolerance + kRounding;
        if (hasHeld_ && !(heldTime_ >= earliest)) dropHeld();
        if (hasHeld_) return heldTime_ <= latest ? heldPicture() : std::nullopt;
        const int key = keyframeInWindow(seconds, earliest, latest);
        // A run that has read that keyframe already gets there by going on.
        const bool alone = key >= 0 && !keyframes_[key].aloneFailed && (!running_ || key > runKeyframe_);
        if (alone && decodeAlone(key, earliest, latest)) return heldPicture();
        const int start = lastKeyframeShownBy(earliest);
        if ((!running_ || start > runKeyframe_) && !startRun(start)) return std::nullopt;
        return decodeForward(earliest, latest);
    }

private:
    // When a decoded frame is shown. Some containers time only the first of the
    // frames that share a packet of theirs: those after it follow the one before,
    // which is what a player shows, and not the decoder's guess from other packets.
    double frameTime(const AVFrame& frame) {
        double time = clock_.seconds(frame.pts);
        if (std::isnan(time)) time = lastShown_ + frameStep_;
        if (std::isnan(time)) time = clock_.seconds(frame.best_effort_timestamp);
        lastShown_ = time;
        return time;
    }

    int64_t spacingAfter(size_t key) const {
        int64_t spacing = 0;
        if (key + 1 < keyframes_.size() &&
            __builtin_sub_overflow(keyframes_[key + 1].indexTime, keyframes_[key].indexTime, &spacing))
            return 0;
        return spacing;
    }

    double shownAt(size_t key) {
        Keyframe& keyframe = keyframes_[key];
        if (!keyframe.shown) {
            keyframe.shown = kUnknown;
            AVPacket* packet = scoutPacket_.get();
            // A packet without a display time (B-frames in AVI) is shown later
            // than it is decoded, by how much only decoding tells.
            if (scout_->readKeyframeAt(keyframe.indexTime, spacingAfter(key), packet)) {
                keyframe.shown = clock_.seconds(packet->pts);
                av_packet_unref(packet);
            }
        }
        return *keyframe.shown;
    }

    // The last listed keyframe shown at or before `seconds`; -1 when there is none.
    int lastKeyframeShownBy(double seconds) {
        // A keyframe is never listed later than it is shown.
        const auto listedAfter = std::upper_bound(
            keyframes_.begin(), keyframes_.end(), seconds,
            [this](double time, const Keyframe& keyframe) { return time < clock_.seconds(keyframe.indexTime); });
        for (int key = static_cast<int>(listedAfter - keyframes_.begin()) - 1; key >= 0; --key)
            if (shownAt(key) <= seconds) return key;
        return -1;
    }

    // A listed keyframe shown inside the window: the last one up to `seconds`, else
    // the first one after it; -1 when there is none.
    int keyframeInWindow(double seconds, double earliest, double latest) {
        const int before = lastKeyframeShownBy(seconds);
        if (before >= 0 && shownAt(before) >= earliest) return before;
        for (size_t key = before + 1; key < keyframes_.size(); ++key) {
            if (clock_.seconds(keyframes_[key].indexTime) > latest) break;
            const double shown = shownAt(key);
            if (std::isnan(shown)) continue;
            return shown >= earliest && shown <= latest ? static_cast<int>(key) : -1;
        }
        return -1;
    }

    void hold(double time) {
        dropHeld();
        av_frame_move_ref(held_.get(), decoded_.get());
        hasHeld_ = true;
        heldTime_ = time;
        heldConverted_ = false;
    }

    void dropHeld() {
        av_frame_unref(held_.get());
        hasHeld_ = false;
    }

    std::optional<PixelView> heldPicture() {
        if (!heldConverted_) {
            const AVRational aspect = av_guess_sample_aspect_ratio(reader_->format(), reader_->stream(), held_.get());
            if (!picture_.convert(*held_, aspect)) {
                dropHeld();
                return std::nullopt;
            }
            heldConverted_ = true;
        }
        return picture_.view();
    }

    // Decodes keyframe `key` on its own, draining the decoder so that the frame
    // comes out without the frames that follow it. Ends any run.
    bool decodeAlone(int key, double earliest, double latest) {
        running_ = false;
        keyframes_[key].aloneFailed = true;
        if (!reader_->readKeyframeAt(keyframes_[key].indexTime, spacingAfter(key), packet_.get())) return false;
        // A drained frame may carry no time of its own; the one picture of one
        // packet has the packet's.
        const double packetTime = clock_.seconds(packet_->pts);
        avcodec_flush_buffers(decoder_.get());
        lastShown_ = kUnknown;
        decoder_->skip_frame = AVDISCARD_DEFAULT;
        avcodec_send_packet(decoder_.get(), packet_.get());
        av_packet_unref(packet_.get());
        avcodec_send_packet(decoder_.get(), nullptr);
        while (avcodec_receive_frame(decoder_.get(), decoded_.get()) == 0) {
            double time = frameTime(*decoded_);
            if (std::isnan(time)) time = packetTime;
            if (!hasHeld_ && time >= earliest && time <= latest) hold(time);
            av_frame_unref(decoded_.get());
        }
        avcodec_flush_buffers(decoder_.get());
        keyframes_[key].aloneFailed = !hasHeld_;
        return hasHeld_;
    }

    // Starts a run at keyframe `key`, or at the first listed one.
    bool startRun(int key) {
        running_ = false;
        if (keyframes_.empty()) return false;
        key = std::max(key, 0);
        if (!reader_->readKeyframeAt(keyframes_[key].indexTime, spacingAfter(key), packet_.get())) return false;
        avcodec_flush_buffers(decoder_.get());
        lastShown_ = kUnknown;
        running_ = true;
        packetInHand_ = true;
        runKeyframe_ = key;
        return true;
    }

    void noteKeyframe(const AVPacket& packet) {
        if (!(packet.flags & AV_PKT_FLAG_KEY)) return;
        for (int64_t time : {packet.dts, packet.pts}) {
            const auto found = std::lower_bound(keyframes_.begin(), keyframes_.end(), time,
                                                [](const Keyframe& k, int64_t t) { return k.indexTime < t; });
            if (found != keyframes_.end() && found->indexTime == time) {
                runKeyframe_ = std::max(runKeyframe_, static_cast<int>(found - keyframes_.begin()));
                return;
            }
        }
    }

    // Goes on with the run to the first frame shown at or after `earliest`.
    std::optional<PixelView> decodeForward(double earliest, double latest) {
        for (;;) {
            const int received = avcodec_receive_frame(decoder_.get(), decoded_.get());
            if (received == 0) {
                const double time = frameTime(*decoded_);
                if (!(time >= earliest)) {
                    av_frame_unref(decoded_.get());
                    continue;
                }
                hold(time);
                return time <= latest ? heldPicture() : std::nullopt;
            }
            // The end of the video: the decoder has given up its last frame.
            if (received != AVERROR(EAGAIN)) return std::nullopt;
            if (!packetInHand_ && !reader_->read(packet_.get())) {
                // End of file or unreadable data: the decoder gives up what it holds.
                avcodec_send_packet(decoder_.get(), nullptr);
                continue;
            }
            packetInHand_ = false;
            noteKeyframe(*packet_);
            // A frame shown before the window that no other frame refers to need
            // not be decoded at all, unless frames are timed by counting them.
            untimedPackets_ = untimedPackets_ || packet_->pts == AV_NOPTS_VALUE;
            const bool early = !untimedPackets_ && clock_.seconds(packet_->pts) < earliest;
            decoder_->skip_frame = early ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
            // A damaged packet is skipped; the decoder carries on with the next.
            avcodec_send_packet(decoder_.get(), packet_.get());
            av_packet_unref(packet_.get());
        }
    }

    std::unique_ptr<Demuxer> reader_;
    std::unique_ptr<Demuxer> scout_;
    CodecHandle decoder_;
    FileClock clock_;
    UprightPicture picture_;
    const double frameStep_;
    std::vector<Keyframe> keyframes_;
    PacketHandle packet_{av_packet_alloc()};
    PacketHandle scoutPacket_{av_packet_alloc()};
    FrameHandle decoded_{av_frame_alloc()};
    // The last frame taken from the decoder, kept while a later time may use it.
    FrameHandle held_{av_frame_alloc()};
    bool hasHeld_ = false;
    double heldTime_ = 0;
    bool heldConverted_ = false;
    // A run feeds the decoder every packet from one keyframe on; the reader starts
    // at the beginning of the file, which is a run from its first keyframe.
    bool running_ = true;
    bool packetInHand_ = false;  // packet_ holds the run's next packet
    int runKeyframe_ = -1;       // the last listed keyframe the run has read
    double lastShown_ = kUnknown;
    bool untimedPackets_ = false;
};

}  // namespace

std::unique_ptr<Video> openFfmpegVideo(const std::string& path) {
    // The library's own diagnostics would land on our standard error.
    av_log_set_level(AV_LOG_QUIET);
    auto reader = Demuxer::open(path);
    if (!reader || !reader->probe()) return nullptr;
    const int index = reader->findVideoStream();
    if (index < 0) return nullptr;
    const AVCodecParameters& parameters = *reader->format()->streams[index]->codecpar;
    reader->useStream(index, parameters);

    const AVCodec* codec = avcodec_find_decoder(parameters.codec_id);
    CodecHandle decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), &parameters) < 0) return nullptr;
    // One thread: most frames are lone keyframes, which frame threads only slow
    // down (about 1.4x, measured), and each extra thread holds frames of its own
    // (4K input went past 150 MB with two).
    decoder->thread_count = 1;
    decoder->pkt_timebase = reader->stream()->time_base;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0) return nullptr;

    // Some containers announce their streams only in their packets.
    auto scout = Demuxer::open(path);
    if (scout && !scout->useStream(index, parameters) && !(scout->probe() && scout->useStream(index, parameters)))
        scout.reset();
    auto video = std::make_unique<FfmpegVideo>(std::move(reader), std::move(scout), std::move(decoder));
    if (!video->usable()) return nullptr;
    return video;
}

}  // namespace tevoli::frames
