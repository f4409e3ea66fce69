#include "ocr.h"

#include <ostream>

#include "json_string.h"

namespace tevoli::frames {
namespace {

// {"path":...,"text":...} for one image.
std::string ocrLine(const std::string& path, const std::vector<std::string>& lines) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) text += '\n';
        text += lines[i];
    }
    return "{\"path\":" + jsonString(path) + ",\"text\":" + jsonString(text) + "}\n";
}

}  // namespace

std::optional<std::string> runOcr(const std::vector<std::string>& images, MediaServices& services, std::ostream& out) {
    std::string error;
    auto recognizer = services.openTextRecognizer(error);
    if (!recognizer) return "text recognition unavailable: " + error;
    for (const auto& path : images) out << ocrLine(path, recognizer->recognizeLines(path));
    return std::nullopt;
}

}  // namespace tevoli::frames
