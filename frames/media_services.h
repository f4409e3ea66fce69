#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jpeg_writer.h"

namespace tevoli::frames {

// How frames come out of a video: any frame within `tolerance` seconds of the
// asked time, upright, scaled down to fit a `maxSide` square.
struct FrameSettings {
    double tolerance = 1.0;
    int maxSide = 1920;
};

// One opened video. Times are asked in increasing order, so a backend can keep
// decoding forward instead of seeking back.
class Video {
public:
    virtual ~Video() = default;
    // Seconds; NaN when the file does not say.
    virtual double durationSeconds() = 0;
    // Packed pixels of a frame near `seconds`, valid until the next call;
    // nothing when no frame in the tolerance window can be decoded.
    virtual std::optional<PixelView> frameNear(double seconds) = 0;
};

// Recognises the text lines of one image file at a time.
class TextRecognizer {
public:
    virtual ~TextRecognizer() = default;
    // The lines in reading order, without terminators; empty when the image
    // cannot be read or holds no text.
    virtual std::vector<std::string> recognizeLines(const std::string& path) = 0;
};

// The platform services the program needs, opened on demand.
class MediaServices {
public:
    virtual ~MediaServices() = default;
    // Nothing when the file cannot be opened or has no decodable video stream.
    virtual std::unique_ptr<Video> openVideo(const std::string& path, const FrameSettings& settings) = 0;
    // Nothing when the engine cannot start; `error` then says why.
    virtual std::unique_ptr<TextRecognizer> openTextRecognizer(std::string& error) = 0;
};

}  // namespace tevoli::frames
