#pragma once
#include "media_services.h"

namespace tevoli::frames {

// FFmpeg for videos, Tesseract for text, libjpeg-turbo and the file system for frames.
class LinuxMediaServices final : public MediaServices {
public:
    std::unique_ptr<Video> openVideo(const std::string& path) override;
    std::unique_ptr<TextRecognizer> openTextRecognizer(std::string& error) override;
    void createDirectories(const std::string& path) override;
    bool writeJpeg(const PixelView& image, const std::string& path) override;
};

}  // namespace tevoli::frames
