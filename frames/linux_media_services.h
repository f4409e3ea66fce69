#pragma once
#include "media_services.h"

namespace tevoli::frames {

// FFmpeg for videos, Tesseract for text.
class LinuxMediaServices final : public MediaServices {
public:
    std::unique_ptr<Video> openVideo(const std::string& path, const FrameSettings& settings) override;
    std::unique_ptr<TextRecognizer> openTextRecognizer(std::string& error) override;
};

}  // namespace tevoli::frames
