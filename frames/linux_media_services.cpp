#include "linux_media_services.h"

#include "linux_text.h"
#include "linux_video.h"

namespace tevoli::frames {

std::unique_ptr<Video> LinuxMediaServices::openVideo(const std::string& path, const FrameSettings& settings) {
    return openFfmpegVideo(path, settings);
}

std::unique_ptr<TextRecognizer> LinuxMediaServices::openTextRecognizer(std::string& error) {
    return openTesseractRecognizer(error);
}

}  // namespace tevoli::frames
