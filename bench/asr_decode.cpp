// The transcription stream of tevoli-apple-asr without its protocol and settle waits:
// each WAV file (16 kHz mono 16-bit) is fed as one stream in contiguous 200 ms
// chunks, with PocketSphinx options given on the command line, for tuning runs.
//   asr_decode [-d NAME VALUE | -v NAME VALUE]... FILE.wav...
// -d sets a decoder option, -v one of the voice-activity detector. Prints one line
// per file: its CPU seconds, then the segments as "t0_ms t1_ms text", tab-separated.
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "linux_speech.h"
#include "transcription_stream.h"

namespace {

std::vector<float> readWav(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t data = bytes.find("data");
    if (data == std::string::npos) throw std::runtime_error(path + ": no data chunk");
    std::vector<float> samples;
    for (std::size_t at = data + 8; at + 1 < bytes.size(); at += 2) {
        const auto low = static_cast<unsigned char>(bytes[at]);
        const auto value = static_cast<std::int16_t>(low | static_cast<unsigned char>(bytes[at + 1]) << 8);
        samples.push_back(static_cast<float>(value) / 32767.0f);
    }
    return samples;
}

double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tevoli::asr;
    PocketSphinxOptions options;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "-d" || arg == "-v") && i + 2 < argc) {
            (arg == "-d" ? options.decoder : options.detector)[argv[i + 1]] = argv[i + 2];
            i += 2;
        } else {
            files.push_back(arg);
        }
    }
    auto engine = makePocketSphinxEngine(options);
    constexpr std::size_t kChunk = 3200;
    for (const std::string& file : files) {
        const std::vector<float> samples = readWav(file);
        auto stream = TranscriptionStream::make(*engine, "en_US", [](std::chrono::milliseconds) {}).stream;
        const double start = cpuSeconds();  // the model is loaded
        std::vector<Seg> segments;
        for (std::size_t at = 0; at < samples.size(); at += kChunk) {
            const std::span<const float> chunk(samples.data() + at, std::min(kChunk, samples.size() - at));
            for (Seg& seg : stream->feed(chunk, static_cast<std::int64_t>(at / 16))) segments.push_back(seg);
        }
        for (Seg& seg : stream->finish()) segments.push_back(seg);
        std::cout << cpuSeconds() - start;
        for (const Seg& seg : segments) std::cout << '\t' << seg.t0_ms << ' ' << seg.t1_ms << ' ' << seg.text;
        std::cout << std::endl;
    }
}
