#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pixel_view.h"

namespace tevoli::frames {

// A sampling time takes any frame shown this many seconds before or after it.
inline constexpr double kFrameTolerance = 1.0;
// Frames larger than this square are scaled down to fit inside it.
inline constexpr int kMaxFrameSide = 1920;

// One opened video. Times are seconds on the file's own timeline.
class Video {
public:
    virtual ~Video() = default;
    // Seconds; NaN when the file does not say.
    virtual double durationSeconds() = 0;
    // Upright pixels at display size (fitted to kMaxFrameSide) of a frame shown
    // within kFrameTolerance of `seconds`, valid until the next call; nothing when
    // no such frame exists or none can be decoded. Times are asked in increasing
    // order, so a backend can keep decoding forward instead of seeking back.
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

// The platform services the program needs.
class MediaServices {
public:
    virtual ~MediaServices() = default;
    // Nothing when the file cannot be opened or has no decodable video stream.
    virtual std::unique_ptr<Video> openVideo(const std::string& path) = 0;
    // Nothing when the engine cannot start; `error` then says why.
    virtual std::unique_ptr<TextRecognizer> openTextRecognizer(std::string& error) = 0;
    // Creates the directory and any missing parents; a failure is not reported.
    virtual void createDirectories(const std::string& path) = 0;
    // Writes the image as a JPEG file, replacing any file there; false when it cannot,
    // and then nothing has changed on disk.
    virtual bool writeJpeg(const PixelView& image, const std::string& path) = 0;
};

}  // namespace tevoli::frames
