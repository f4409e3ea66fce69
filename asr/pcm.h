#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tevoli::asr {

// Strict standard Base64 with "=" padding: no white space, no other alphabet,
// no missing padding. The empty text decodes to no bytes.
std::optional<std::string> decodeBase64(std::string_view text);

// Little-endian 32-bit float samples; 1 to 3 trailing bytes are ignored.
std::vector<float> samplesFromBytes(std::string_view bytes);

// The host's float samples as signed 16-bit, clamped; NaN becomes silence.
std::vector<std::int16_t> toInt16(std::span<const float> samples);

}  // namespace tevoli::asr
