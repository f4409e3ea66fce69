#include "ocr.h"

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

Ending runOcr(const std::vector<std::string>& images, MediaServices& services) {
    std::string error;
    auto recognizer = services.openTextRecognizer(error);
    if (!recognizer) return Ending::failure("text recognition unavailable: " + error);
    Ending ending;
    for (const auto& path : images) ending.output += ocrLine(path, recognizer->recognizeLines(path));
    return ending;
}

}  // namespace tevoli::frames
