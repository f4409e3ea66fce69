#pragma once
#include <memory>
#include <string>

#include "media_services.h"

namespace tevoli::frames {

// Opens a video with FFmpeg; nothing when it has no decodable video stream.
std::unique_ptr<Video> openFfmpegVideo(const std::string& path);

}  // namespace tevoli::frames
