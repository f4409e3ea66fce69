#pragma once
#include <cstdint>
#include <vector>

#include "linux_ffmpeg.h"
#include "pixel_view.h"

namespace tevoli::frames {

// A decoded frame as the host gets it: at display size (pixel aspect ratio
// applied), scaled down to fit the size limit, and upright.
class UprightPicture {
public:
    // `quarterTurns`: clockwise quarter turns that make the stream's frames upright.
    explicit UprightPicture(int quarterTurns) : turns_(quarterTurns) {}

    // False when the frame cannot be converted.
    bool convert(const AVFrame& frame, AVRational pixelAspect);
    // The last converted picture, valid until the next conversion.
    PixelView view() const { return view_; }

private:
    int turns_;
    SwsHandle scaler_;
    FrameHandle scaled_;
    std::vector<uint8_t> rotated_;
    PixelView view_;
};

// Clockwise quarter turns that make the frames of `stream` upright.
int quarterTurns(const AVStream& stream);

}  // namespace tevoli::frames
