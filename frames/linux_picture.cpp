#include "linux_picture.h"

extern "C" {
#include <libavutil/display.h>
}

#include <algorithm>
#include <cmath>

#include "media_services.h"

namespace tevoli::frames {
namespace {

// Copies RGB pixels, rows `stride` bytes apart, turned clockwise by `turns` quarter
// turns into packed rows.
void rotate(const uint8_t* source, int stride, int width, int height, int turns, std::vector<uint8_t>& target) {
    target.resize(static_cast<size_t>(width) * height * 3);
    const int targetWidth = (turns % 2 == 1) ? height : width;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int tx = x, ty = y;
            if (turns == 1) tx = height - 1 - y, ty = x;
            else if (turns == 2) tx = width - 1 - x, ty = height - 1 - y;
            else if (turns == 3) tx = y, ty = width - 1 - x;
            const uint8_t* from = &source[static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 3];
            uint8_t* to = &target[(static_cast<size_t>(ty) * targetWidth + tx) * 3];
            to[0] = from[0], to[1] = from[1], to[2] = from[2];
        }
    }
}

int fitted(double side, double scale) { return std::max(1, static_cast<int>(std::lround(side * scale))); }

}  // namespace

int quarterTurns(const AVStream& stream) {
    const auto* matrix =
        reinterpret_cast<const int32_t*>(av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
    if (matrix == nullptr) return 0;
    const double counterClockwise = av_display_rotation_get(matrix);
    if (std::isnan(counterClockwise)) return 0;
    const long turns = std::lround(-counterClockwise / 90.0);
    return static_cast<int>(((turns % 4) + 4) % 4);
}

bool UprightPicture::convert(const AVFrame& frame, AVRational pixelAspect) {
    const int width = frame.width, height = frame.height;
    if (width <= 0 || height <= 0) return false;
    // Wide or narrow pixels stretch the width, as players show them.
    const double aspect = pixelAspect.num > 0 && pixelAspect.den > 0 ? av_q2d(pixelAspect) : 1.0;
    const double displayWidth = width * aspect;
    const double scale = std::min({1.0, kMaxFrameSide / displayWidth, static_cast<double>(kMaxFrameSide) / height});
    const int outWidth = fitted(displayWidth, scale);
    const int outHeight = fitted(height, scale);
    scaler_.reset(sws_getCachedContext(scaler_.release(), width, height, static_cast<AVPixelFormat>(frame.format),
                                       outWidth, outHeight, AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr,
                                       nullptr));
    if (!scaler_) return false;
    // The scaler writes rows in whole blocks of pixels, past the end of a narrow
    // one: a picture of FFmpeg's own has the room.
    if (!scaled_ || scaled_->width != outWidth || scaled_->height != outHeight) {
        scaled_.reset(av_frame_alloc());
        if (!scaled_) return false;
        scaled_->format = AV_PIX_FMT_RGB24;
        scaled_->width = outWidth;
        scaled_->height = outHeight;
        if (av_frame_get_buffer(scaled_.get(), 0) < 0) {
            scaled_.reset();
            return false;
        }
    }
    if (sws_scale(scaler_.get(), frame.data, frame.linesize, 0, height, scaled_->data, scaled_->linesize) != outHeight)
        return false;
    view_ = PixelView{scaled_->data[0], outWidth, outHeight, scaled_->linesize[0], PixelLayout::rgb};
    if (turns_ != 0) {
        rotate(scaled_->data[0], scaled_->linesize[0], outWidth, outHeight, turns_, rotated_);
        const int upWidth = turns_ % 2 ? outHeight : outWidth;
        const int upHeight = turns_ % 2 ? outWidth : outHeight;
        view_ = PixelView{rotated_.data(), upWidth, upHeight, upWidth * 3, PixelLayout::rgb};
    }
    return true;
}

}  // namespace tevoli::frames
