#include "linux_video.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/dict.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace tevoli::frames {
namespace {

struct FormatClose {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecFree {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct SwsFree {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};

// The index holds decoding times, which may run a few frames ahead of the
// presentation time of the same keyframe; a keyframe that close to the window
// is worth trying on its own.
constexpr double kReorderMargin = 0.25;

// Clockwise quarter turns that make the stream's frames upright.
int quarterTurns(const AVStream* stream) {
    const auto* matrix =
        reinterpret_cast<const int32_t*>(av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
    if (matrix == nullptr) return 0;
    const double counterClockwise = av_display_rotation_get(matrix);
    if (std::isnan(counterClockwise)) return 0;
    const long turns = std::lround(-counterClockwise / 90.0);
    return static_cast<int>(((turns % 4) + 4) % 4);
}

// The first stream that is real video (not cover art) and has a decoder.
int videoStreamIndex(const AVFormatContext* format) {
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) continue;
        if (avcodec_find_decoder(stream->codecpar->codec_id) == nullptr) continue;
        return static_cast<int>(i);
    }
    return -1;
}

// Copies packed RGB pixels turned clockwise by `turns` quarter turns.
void rotate(const std::vector<uint8_t>& source, int width, int height, int turns, std::vector<uint8_t>& target) {
    target.resize(source.size());
    const int targetWidth = (turns % 2 == 1) ? height : width;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int tx = x, ty = y;
            if (turns == 1) tx = height - 1 - y, ty = x;
            else if (turns == 2) tx = width - 1 - x, ty = height - 1 - y;
            else if (turns == 3) tx = y, ty = width - 1 - x;
            const uint8_t* from = &source[(static_cast<size_t>(y) * width + x) * 3];
            uint8_t* to = &target[(static_cast<size_t>(ty) * targetWidth + tx) * 3];
            to[0] = from[0], to[1] = from[1], to[2] = from[2];
        }
    }
}

class FfmpegVideo final : public Video {
public:
    FfmpegVideo(std::unique_ptr<AVFormatContext, FormatClose> format, int streamIndex,
                std::unique_ptr<AVCodecContext, CodecFree> decoder, const FrameSettings& settings)
        : format_(std::move(format)),
          stream_(format_->streams[streamIndex]),
          decoder_(std::move(decoder)),
          settings_(settings),
          turns_(quarterTurns(stream_)),
          packet_(av_packet_alloc()),
          frame_(av_frame_alloc()) {
        startTimestamp_ = stream_->start_time != AV_NOPTS_VALUE ? stream_->start_time : 0;
    }

    bool usable() const { return packet_ && frame_; }

    double durationSeconds() override {
        if (format_->duration != AV_NOPTS_VALUE && format_->duration > 0)
            return static_cast<double>(format_->duration) / AV_TIME_BASE;
        if (stream_->duration != AV_NOPTS_VALUE && stream_->duration > 0)
            return static_cast<double>(stream_->duration) * av_q2d(stream_->time_base);
        return std::numeric_limits<double>::quiet_NaN();
    }

    std::optional<PixelView> frameNear(double seconds) override {
        const double earliest = seconds - settings_.tolerance;
        const double latest = seconds + settings_.tolerance;
        if (held_ && heldTime_ >= earliest && heldTime_ <= latest) return view_;
        const AVIndexEntry* key = keyframeToStartFrom(seconds, earliest, latest);
        // Never back over what the decoder has already gone through.
        if (key != nullptr && (!decoding_ || key->timestamp > lastRead_)) {
            const bool maybeInWindow = toSeconds(key->timestamp) >= earliest - kReorderMargin;
            if (maybeInWindow && seekTo(*key) && decodeKeyframeAlone(earliest, latest)) return view_;
            seekTo(*key);
        }
        return decodeForward(earliest, latest);
    }

private:
    double toSeconds(int64_t timestamp) const {
        return static_cast<double>(timestamp - startTimestamp_) * av_q2d(stream_->time_base);
    }
    int64_t toTimestamp(double seconds) const {
        const double ticks = seconds / av_q2d(stream_->time_base);
        const double bound = 4.0e18;
        return static_cast<int64_t>(std::clamp(ticks, -bound, bound)) + startTimestamp_;
    }

    const AVIndexEntry* keyframeEntry(int64_t timestamp, int flags) const {
        const int index = av_index_search_timestamp(stream_, timestamp, flags);
        return index < 0 ? nullptr : avformat_index_get_entry(stream_, index);
    }

    // From the container's index: a keyframe inside the window if there is one,
    // else the last one before it; nothing when the container has no index.
    const AVIndexEntry* keyframeToStartFrom(double seconds, double earliest, double latest) const {
        if (avformat_index_get_entries_count(stream_) == 0) return nullptr;
        const AVIndexEntry* before = keyframeEntry(toTimestamp(seconds), AVSEEK_FLAG_BACKWARD);
        if (before != nullptr && toSeconds(before->timestamp) >= earliest - kReorderMargin) return before;
        const AVIndexEntry* after = keyframeEntry(before ? before->timestamp + 1 : toTimestamp(seconds), 0);
        if (after != nullptr && toSeconds(after->timestamp) <= latest - kReorderMargin) return after;
        return before;
    }

    // Demuxers treat the seek target as a presentation time and may shift it by
    // the reorder delay, so aim between this keyframe and the next one.
    bool seekTo(const AVIndexEntry& key) {
        const AVIndexEntry* next = keyframeEntry(key.timestamp + 1, 0);
        const int64_t aim = next ? key.timestamp + (next->timestamp - key.timestamp) / 2
                                 : key.timestamp + toTimestamp(1) - startTimestamp_;
        if (av_seek_frame(format_.get(), stream_->index, aim, AVSEEK_FLAG_BACKWARD) < 0) return false;
        avcodec_flush_buffers(decoder_.get());
        decoding_ = false;
        inputEnded_ = false;
        return true;
    }

    // Reads the next packet of the stream into packet_; false at the end or on
    // unreadable data.
    bool readPacket() {
        while (av_read_frame(format_.get(), packet_.get()) >= 0) {
            if (packet_->stream_index == stream_->index) {
                const int64_t position = packet_->dts != AV_NOPTS_VALUE ? packet_->dts : packet_->pts;
                if (position != AV_NOPTS_VALUE) lastRead_ = position;
                return true;
            }
            av_packet_unref(packet_.get());
        }
        return false;
    }

    // Decodes only the keyframe just sought to, draining the decoder so the frame
    // comes out without waiting for the frames that follow it. The decoder then
    // has to start again from a keyframe.
    bool decodeKeyframeAlone(double earliest, double latest) {
        if (!readPacket()) return false;
        if (!(packet_->flags & AV_PKT_FLAG_KEY)) {
            av_packet_unref(packet_.get());
            return false;
        }
        decoder_->skip_frame = AVDISCARD_DEFAULT;
        avcodec_send_packet(decoder_.get(), packet_.get());
        av_packet_unref(packet_.get());
        avcodec_send_packet(decoder_.get(), nullptr);
        bool found = false;
        while (avcodec_receive_frame(decoder_.get(), frame_.get()) == 0) {
            if (!found) found = holdIfFrom(earliest);
            av_frame_unref(frame_.get());
        }
        avcodec_flush_buffers(decoder_.get());
        decoding_ = false;
        return found && heldTime_ <= latest;
    }

    // Decodes on from the current position to the first frame at or after
    // `earliest`; that frame is kept even when it lies past `latest`, since a
    // later sampling time may want it.
    std::optional<PixelView> decodeForward(double earliest, double latest) {
        for (;;) {
            const int received = avcodec_receive_frame(decoder_.get(), frame_.get());
            if (received == 0) {
                const bool found = holdIfFrom(earliest);
                av_frame_unref(frame_.get());
                if (!found) continue;
                if (heldTime_ <= latest) return view_;
                return std::nullopt;
            }
            if (received != AVERROR(EAGAIN) || inputEnded_) return std::nullopt;
            if (!readPacket()) {
                // End of file or unreadable data: let the decoder give up what it holds.
                inputEnded_ = true;
                avcodec_send_packet(decoder_.get(), nullptr);
                continue;
            }
            // A frame shown before the window that no other frame refers to
            // need not be decoded at all.
            const bool early = packet_->pts != AV_NOPTS_VALUE && toSeconds(packet_->pts) < earliest;
            decoder_->skip_frame = early ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
            // A damaged packet is skipped; the decoder carries on with the next.
            avcodec_send_packet(decoder_.get(), packet_.get());
            av_packet_unref(packet_.get());
            decoding_ = true;
        }
    }

    bool holdIfFrom(double earliest) {
        const int64_t timestamp = frame_->best_effort_timestamp;
        return timestamp != AV_NOPTS_VALUE && toSeconds(timestamp) >= earliest && hold(toSeconds(timestamp));
    }

    // Converts the decoded frame to upright RGB that fits the size limit.
    bool hold(double seconds) {
        const int width = frame_->width, height = frame_->height;
        if (width <= 0 || height <= 0) return false;
        const double scale = std::min({1.0, static_cast<double>(settings_.maxSide) / width,
                                       static_cast<double>(settings_.maxSide) / height});
        const int outWidth = std::max(1, static_cast<int>(std::lround(width * scale)));
        const int outHeight = std::max(1, static_cast<int>(std::lround(height * scale)));
        scaler_.reset(sws_getCachedContext(scaler_.release(), width, height,
                                           static_cast<AVPixelFormat>(frame_->format), outWidth, outHeight,
                                           AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr));
        if (!scaler_) return false;
        scaled_.resize(static_cast<size_t>(outWidth) * outHeight * 3);
        uint8_t* planes[4] = {scaled_.data(), nullptr, nullptr, nullptr};
        int strides[4] = {outWidth * 3, 0, 0, 0};
        if (sws_scale(scaler_.get(), frame_->data, frame_->linesize, 0, height, planes, strides) != outHeight)
            return false;
        view_ = PixelView{scaled_.data(), outWidth, outHeight, outWidth * 3, PixelLayout::rgb};
        if (turns_ != 0) {
            rotate(scaled_, outWidth, outHeight, turns_, rotated_);
            const int upWidth = turns_ % 2 ? outHeight : outWidth;
            const int upHeight = turns_ % 2 ? outWidth : outHeight;
            view_ = PixelView{rotated_.data(), upWidth, upHeight, upWidth * 3, PixelLayout::rgb};
        }
        held_ = true;
        heldTime_ = seconds;
        return true;
    }

    std::unique_ptr<AVFormatContext, FormatClose> format_;
    AVStream* stream_;
    std::unique_ptr<AVCodecContext, CodecFree> decoder_;
    FrameSettings settings_;
    int turns_;
    std::unique_ptr<AVPacket, PacketFree> packet_;
    std::unique_ptr<AVFrame, FrameFree> frame_;
    std::unique_ptr<SwsContext, SwsFree> scaler_;
    int64_t startTimestamp_ = 0;
    int64_t lastRead_ = 0;
    // Whether the decoder holds state from earlier packets, so that going on
    // with the next packet decodes correctly.
    bool decoding_ = false;
    bool inputEnded_ = false;
    std::vector<uint8_t> scaled_;
    std::vector<uint8_t> rotated_;
    PixelView view_;
    bool held_ = false;
    double heldTime_ = 0;
};

}  // namespace

std::unique_ptr<Video> openFfmpegVideo(const std::string& path, const FrameSettings& settings) {
    // The library's own diagnostics would land on our standard error.
    av_log_set_level(AV_LOG_QUIET);
    // The operand is a file path: a colon in it must not pick a protocol, and a
    // playlist inside the file must not reach out to the network.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    AVFormatContext* opened = nullptr;
    const int status = avformat_open_input(&opened, ("file:" + path).c_str(), nullptr, &options);
    av_dict_free(&options);
    if (status < 0) return nullptr;
    std::unique_ptr<AVFormatContext, FormatClose> format(opened);
    if (avformat_find_stream_info(format.get(), nullptr) < 0) return nullptr;
    const int streamIndex = videoStreamIndex(format.get());
    if (streamIndex < 0) return nullptr;
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (static_cast<int>(i) != streamIndex) format->streams[i]->discard = AVDISCARD_ALL;

    const AVStream* stream = format->streams[streamIndex];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    std::unique_ptr<AVCodecContext, CodecFree> decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0) return nullptr;
    // One thread: most frames are lone keyframes, which frame threads only slow
    // down (about 1.4x, measured), and each extra thread holds frames of its own
    // (4K input went past 150 MB with two).
    decoder->thread_count = 1;
    decoder->pkt_timebase = stream->time_base;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0) return nullptr;

    auto video = std::make_unique<FfmpegVideo>(std::move(format), streamIndex, std::move(decoder), settings);
    if (!video->usable()) return nullptr;
    return video;
}

}  // namespace tevoli::frames
