#include "linux_demuxer.h"

#include <algorithm>
#include <limits>

namespace tevoli::frames {
namespace {

// Index times come from the file and may be anything.
int64_t plus(int64_t a, int64_t b) {
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max() / 4;
    return std::clamp(a, -kMax, kMax) + std::clamp(b, -kMax, kMax);
}

}  // namespace

std::unique_ptr<Demuxer> Demuxer::open(const std::string& path) {
    // The operand is a file path: a colon in it must not pick a protocol, and a
    // playlist inside the file must not reach out to the network.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    AVFormatContext* opened = nullptr;
    const int status = avformat_open_input(&opened, ("file:" + path).c_str(), nullptr, &options);
    av_dict_free(&options);
    if (status < 0) return nullptr;
    return std::unique_ptr<Demuxer>(new Demuxer(FormatHandle(opened)));
}

bool Demuxer::probe() { return avformat_find_stream_info(format_.get(), nullptr) >= 0; }

int Demuxer::findVideoStream() const {
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        const AVStream* stream = format_->streams[i];
        if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) continue;
        if (avcodec_find_decoder(stream->codecpar->codec_id) == nullptr) continue;
        return static_cast<int>(i);
    }
    return -1;
}

bool Demuxer::useStream(int index, const AVCodecParameters& like) {
    if (index < 0 || static_cast<unsigned>(index) >= format_->nb_streams) return false;
    const AVCodecParameters* found = format_->streams[index]->codecpar;
    if (found->codec_type != like.codec_type || found->codec_id != like.codec_id) return false;
    stream_ = format_->streams[index];
    for (unsigned i = 0; i < format_->nb_streams; ++i)
        if (static_cast<int>(i) != index) format_->streams[i]->discard = AVDISCARD_ALL;
    return true;
}

std::vector<int64_t> Demuxer::listedKeyframes() {
    // Some containers read their index only when first asked to seek.
    const int64_t start = stream_->start_time != AV_NOPTS_VALUE ? stream_->start_time : 0;
    av_seek_frame(format_.get(), stream_->index, start, AVSEEK_FLAG_BACKWARD);
    std::vector<int64_t> times;
    const int count = avformat_index_get_entries_count(stream_);
    for (int i = 0; i < count; ++i) {
        const AVIndexEntry* entry = avformat_index_get_entry(stream_, i);
        if ((entry->flags & AVINDEX_KEYFRAME) && (times.empty() || entry->timestamp > times.back()))
            times.push_back(entry->timestamp);
    }
    return times;
}

bool Demuxer::read(AVPacket* packet) {
    while (av_read_frame(format_.get(), packet) >= 0) {
        if (packet->stream_index == stream_->index) return true;
        av_packet_unref(packet);
    }
    return false;
}

bool Demuxer::readKeyframeAt(int64_t indexTime, int64_t spacing, AVPacket* packet) {
    const int64_t second = av_rescale_q(1, AVRational{1, 1}, stream_->time_base);
    // Demuxers take a seek target for a display time and may move it back by the
    // reordering delay, so aim between this keyframe and the next.
    int64_t aim = plus(indexTime, spacing > 0 ? spacing / 2 : second);
    int64_t back = std::max(spacing, second);
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (av_seek_frame(format_.get(), stream_->index, aim, AVSEEK_FLAG_BACKWARD) < 0) return false;
        bool passed = false;
        while (!passed && read(packet)) {
            const bool key = packet->flags & AV_PKT_FLAG_KEY;
            if (key && (packet->dts == indexTime || packet->pts == indexTime)) return true;
            const int64_t order = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
            passed = order != AV_NOPTS_VALUE && order > indexTime;
            av_packet_unref(packet);
        }
        if (!passed) return false;
        // Landed after it: start further back.
        aim = plus(indexTime, -back);
        back = std::min(back, std::numeric_limits<int64_t>::max() / 8) * 4;
    }
    return false;
}

}  // namespace tevoli::frames
