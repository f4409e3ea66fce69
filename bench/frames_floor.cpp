// The floor under `tevoli-frames extract` on a video with regular keyframes:
// seek to the keyframe at or before each sampling time, decode that one frame,
// convert it to RGB and encode it as a quality 85 JPEG in memory. No schedule,
// no files. Usage: frames_floor <video> <interval_secs> <count>
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}
#include <turbojpeg.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, argv[1], nullptr, nullptr) < 0) return 1;
    avformat_find_stream_info(format, nullptr);
    const AVCodec* codec = nullptr;
    const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (index < 0) return 1;
    AVStream* stream = format->streams[index];
    AVCodecContext* decoder = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(decoder, stream->codecpar);
    if (avcodec_open2(decoder, codec, nullptr) < 0) return 1;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    tjhandle jpeg = tjInitCompress();
    SwsContext* scaler = nullptr;
    std::vector<unsigned char> rgb;
    const double interval = std::atof(argv[2]);
    const int count = std::atoi(argv[3]);
    int encoded = 0;
    for (int i = 0; i < count; ++i) {
        const auto timestamp = static_cast<int64_t>(i * interval / av_q2d(stream->time_base));
        av_seek_frame(format, index, timestamp, AVSEEK_FLAG_BACKWARD);
        avcodec_flush_buffers(decoder);
        bool sent = false;
        while (!sent && av_read_frame(format, packet) >= 0) {
            if (packet->stream_index == index) sent = avcodec_send_packet(decoder, packet) == 0;
            av_packet_unref(packet);
        }
        // Drained, so the keyframe comes out without decoding the frames after it.
        avcodec_send_packet(decoder, nullptr);
        const bool decoded = sent && avcodec_receive_frame(decoder, frame) == 0;
        if (!decoded) continue;
        scaler = sws_getCachedContext(scaler, frame->width, frame->height, AVPixelFormat(frame->format),
                                      frame->width, frame->height, AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr,
                                      nullptr, nullptr);
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
        av_frame_unref(frame);
    }
    std::printf("%d\n", encoded);
    sws_freeContext(scaler);
    tjDestroy(jpeg);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
    return 0;
}
