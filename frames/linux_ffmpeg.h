#pragma once
// Owning handles for the FFmpeg objects of the video backend.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <memory>

namespace tevoli::frames {

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

using FormatHandle = std::unique_ptr<AVFormatContext, FormatClose>;
using CodecHandle = std::unique_ptr<AVCodecContext, CodecFree>;
using PacketHandle = std::unique_ptr<AVPacket, PacketFree>;
using FrameHandle = std::unique_ptr<AVFrame, FrameFree>;
using SwsHandle = std::unique_ptr<SwsContext, SwsFree>;

}  // namespace tevoli::frames
