#include "pcm.h"

#include <array>
#include <bit>
#include <cmath>

namespace tevoli::asr {

namespace {

constexpr std::array<std::int8_t, 256> kBase64Values = [] {
    std::array<std::int8_t, 256> values{};
    values.fill(-1);
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i) values[static_cast<unsigned char>(alphabet[i])] = static_cast<std::int8_t>(i);
    return values;
}();

}  // namespace

std::optional<std::string> decodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t at = 0; at < text.size(); at += 4) {
        const bool last = at + 4 == text.size();
        std::size_t padding = 0;
        if (last && text[at + 3] == '=') padding = text[at + 2] == '=' ? 2 : 1;
        std::uint32_t group = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            int value = 0;
            if (i < 4 - padding) {
                value = kBase64Values[static_cast<unsigned char>(text[at + i])];
                if (value < 0) return std::nullopt;
            }
            group = group << 6 | static_cast<std::uint32_t>(value);
        }
        bytes += static_cast<char>(group >> 16);
        if (padding < 2) bytes += static_cast<char>(group >> 8 & 0xFF);
        if (padding < 1) bytes += static_cast<char>(group & 0xFF);
    }
    return bytes;
}

std::vector<float> samplesFromBytes(std::string_view bytes) {
    std::vector<float> samples(bytes.size() / 4);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        std::uint32_t bits = 0;
        for (int b = 3; b >= 0; --b) bits = bits << 8 | static_cast<unsigned char>(bytes[i * 4 + b]);
        samples[i] = std::bit_cast<float>(bits);
    }
    return samples;
}

std::vector<std::int16_t> toInt16(std::span<const float> samples) {
    std::vector<std::int16_t> out(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const float s = samples[i];
        if (std::isnan(s)) continue;
        const float clamped = s < -1.0f ? -1.0f : (s > 1.0f ? 1.0f : s);
        out[i] = static_cast<std::int16_t>(std::lround(clamped * 32767.0f));
    }
    return out;
}

}  // namespace tevoli::asr
