#pragma once
#include <memory>
#include <string>

#include "media_services.h"

namespace tevoli::frames {

// Starts a Tesseract engine for English; nothing (and `error`) when it cannot.
std::unique_ptr<TextRecognizer> openTesseractRecognizer(std::string& error);

}  // namespace tevoli::frames
