#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "linux_ffmpeg.h"

namespace tevoli::frames {

// One reading position in a video file, over one video stream.
class Demuxer {
public:
    // Opens `path` as a plain file; nothing when it cannot be read.
    static std::unique_ptr<Demuxer> open(const std::string& path);

    // Reads enough of the file to know all its streams; false when it cannot.
    bool probe();
    // The first stream that is real video (not cover art) and has a decoder; -1 when
    // there is none.
    int findVideoStream() const;
    // Reads only stream `index` from now on; false when it is not the video stream
    // `like` describes.
    bool useStream(int index, const AVCodecParameters& like);

    AVFormatContext* format() const { return format_.get(); }
    AVStream* stream() const { return stream_; }

    // The index times of the keyframes the container lists, in order. A listed time
    // is the keyframe's decoding or display time, never later than its display time.
    std::vector<int64_t> listedKeyframes();
    // The next packet of the stream; false at the end or on unreadable data.
    bool read(AVPacket* packet);
    // Moves to the keyframe listed at `indexTime` and reads its packet. `spacing` is
    // the distance to the next listed keyframe, 0 for the last. False when the
    // keyframe cannot be found; the position is then anywhere.
    bool readKeyframeAt(int64_t indexTime, int64_t spacing, AVPacket* packet);

private:
    explicit Demuxer(FormatHandle format) : format_(std::move(format)) {}

    FormatHandle format_;
    AVStream* stream_ = nullptr;
};

}  // namespace tevoli::frames
