#include "linux_media_services.h"

#include <filesystem>
#include <system_error>

#include "file_writer.h"
#include "jpeg_writer.h"
#include "linux_text.h"
#include "linux_video.h"

namespace tevoli::frames {

std::unique_ptr<Video> LinuxMediaServices::openVideo(const std::string& path) { return openFfmpegVideo(path); }

std::unique_ptr<TextRecognizer> LinuxMediaServices::openTextRecognizer(std::string& error) {
    return openTesseractRecognizer(error);
}

void LinuxMediaServices::createDirectories(const std::string& path) {
    std::error_code ignored;
    std::filesystem::create_directories(path, ignored);
}

bool LinuxMediaServices::writeJpeg(const PixelView& image, const std::string& path) {
    const auto jpeg = encodeJpeg(image);
    return jpeg && !writeFileBytes(path, *jpeg);
}

}  // namespace tevoli::frames
