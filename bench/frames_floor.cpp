// The floors under `tevoli-frames extract`: decoding only what the sampled frames
// need, converting them to RGB and encoding them as quality 85 JPEGs in memory.
// No schedule logic, no files.
//   frames_floor <video> <interval_secs> <count>           a keyframe at or before each time, decoded alone
//   frames_floor <video> <interval_secs> <count> forward   one pass; the first frame at or after each time
//                                                          less a second, skipping frames nothing refers to
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}
#include <turbojpeg.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Encoder {
    tjhandle jpeg = tjInitCompress();
    SwsContext* scaler = nullptr;
    std::vector<unsigned char> rgb;
    int encoded = 0;

    void encode(const AVFrame* frame) {
        scaler = sws_getCachedContext(scaler, frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                                      frame->height, AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr);
        rgb.resize(size_t(frame->width) * frame->height * 3);
        uint8_t* planes[4] = {rgb.data()};
        int strides[4] = {frame->width * 3};
        sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, strides);
        unsigned char* out = nullptr;
        unsigned long size = 0;
        if (tjCompress2(jpeg, rgb.data(), frame->width, frame->width * 3, frame->height, TJPF_RGB, &out, &size,
                        TJSAMP_420, 85, TJFLAG_ACCURATEDCT) == 0)
            ++encoded;
        tjFree(out);
    }
    ~Encoder() {
        sws_freeContext(scaler);
        tjDestroy(jpeg);
    }
};

void keyframes(AVFormatContext* format, AVStream* stream, AVCodecContext* decoder, double interval, int count,
               Encoder& encoder) {
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    for (int i = 0; i < count; ++i) {
        const auto timestamp = static_cast<int64_t>(i * interval / av_q2d(stream->time_base));
        av_seek_frame(format, stream->index, timestamp, AVSEEK_FLAG_BACKWARD);
        avcodec_flush_buffers(decoder);
        bool sent = false;
        while (!sent && av_read_frame(format, packet) >= 0) {
            if (packet->stream_index == stream->index) sent = avcodec_send_packet(decoder, packet) == 0;
            av_packet_unref(packet);
        }
        // Drained, so the keyframe comes out without decoding the frames after it.
        avcodec_send_packet(decoder, nullptr);
        if (sent && avcodec_receive_frame(decoder, frame) == 0) encoder.encode(frame);
        av_frame_unref(frame);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
}

void forward(AVFormatContext* format, AVStream* stream, AVCodecContext* decoder, double interval, int count,
             Encoder& encoder) {
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    const double start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time * av_q2d(stream->time_base) : 0;
    int next = 0;  // the sampling time waiting for its frame
    bool ended = false;
    while (next < count) {
        const int received = avcodec_receive_frame(decoder, frame);
        if (received == 0) {
            const double time = frame->best_effort_timestamp * av_q2d(stream->time_base) - start;
            if (time >= next * interval - 1) {
                encoder.encode(frame);
                while (next < count && time >= next * interval - 1) ++next;
            }
            av_frame_unref(frame);
            continue;
        }
        if (received != AVERROR(EAGAIN) || ended) break;
        if (av_read_frame(format, packet) < 0) {
            ended = true;
            avcodec_send_packet(decoder, nullptr);
            continue;
        }
        if (packet->stream_index == stream->index) {
            const double time = packet->pts * av_q2d(stream->time_base) - start;
            decoder->skip_frame = time < next * interval - 1 ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
            avcodec_send_packet(decoder, packet);
        }
        av_packet_unref(packet);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) return 2;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, argv[1], nullptr, nullptr) < 0) return 1;
    avformat_find_stream_info(format, nullptr);
    const AVCodec* codec = nullptr;
    const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (index < 0) return 1;
    AVCodecContext* decoder = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(decoder, format->streams[index]->codecpar);
    decoder->thread_count = 1;
    if (avcodec_open2(decoder, codec, nullptr) < 0) return 1;
    Encoder encoder;
    const double interval = std::atof(argv[2]);
    const int count = std::atoi(argv[3]);
    if (argc == 5 && std::strcmp(argv[4], "forward") == 0)
        forward(format, format->streams[index], decoder, interval, count, encoder);
    else
        keyframes(format, format->streams[index], decoder, interval, count, encoder);
    std::printf("%d\n", encoder.encoded);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
    return 0;
}
