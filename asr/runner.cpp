#include "runner.h"

#include <string_view>

#include "pcm.h"

namespace tevoli::asr {

namespace {

Reply success() {
    Reply reply;
    reply.ok = true;
    return reply;
}

Reply withSegments(std::vector<Seg> segments) {
    Reply reply = success();
    reply.segments = std::move(segments);
    return reply;
}

// "begin" and "feed" without a stream name mean this one.
std::string streamName(const Request& request) { return request.stream.value_or("default"); }

}  // namespace

Runner::Runner(SpeechEngine& engine, Sleep sleep) : engine_(engine), sleep_(std::move(sleep)) {}

Reply Runner::handle(const Request& request) {
    static constexpr std::pair<std::string_view, Reply (Runner::*)(const Request&)> kOperations[] = {
        {"status", &Runner::status},
        {"begin", &Runner::begin},
        {"feed", &Runner::feed},
        {"finish", &Runner::finish},
    };
    for (const auto& [name, operation] : kOperations)
        if (request.op == name) return (this->*operation)(request);
    return Reply::failure("unknown op: " + request.op);
}

std::optional<std::string> Runner::resolveLocale(const std::optional<std::string>& requested) {
    std::vector<std::string> candidates;
    if (requested) candidates.push_back(*requested);
    candidates.push_back(engine_.currentLocaleIdentifier());
    candidates.push_back("en_US");
    for (const std::string& candidate : candidates) {
        if (auto locale = engine_.supportedLocale(candidate)) return locale;
    }
    return std::nullopt;
}

Reply Runner::status(const Request&) {
    Reply reply = success();
    reply.available = false;
    if (!engine_.isAvailable()) {
        reply.reason = "Apple's speech recognizer isn't available on this Mac";
    } else if (!resolveLocale(std::nullopt)) {
        reply.reason = "No supported speech language is installed";
    } else {
        reply.available = true;
    }
    return reply;
}

Reply Runner::begin(const Request& request) {
    const std::string stream = streamName(request);
    Reply reply = success();
    reply.downloaded = false;
    if (streams.contains(stream)) return reply;
    if (!engine_.isAvailable()) return Reply::failure("Apple's speech recognizer isn't available");
    const auto resolved = resolveLocale(request.locale);
    if (!resolved) return Reply::failure("no supported speech locale");
    try {
        if (streams.size() >= kMaxOpenStreams)
            throw HelperError::msg(std::to_string(kMaxOpenStreams) + " streams are open already; finish one first");
        auto made = TranscriptionStream::make(engine_, *resolved, sleep_);
        streams.emplace(stream, std::move(made.stream));
        reply.downloaded = made.downloaded;
    } catch (const std::exception& error) {
        return Reply::failure(std::string("begin failed: ") + error.what());
    }
    return reply;
}

Reply Runner::feed(const Request& request) {
    const std::string stream = streamName(request);
    const auto open = streams.find(stream);
    if (open == streams.end()) return Reply::failure("feed before begin for stream \"" + stream + "\"");
    const std::optional<std::string> bytes = request.pcm ? decodeBase64(*request.pcm) : std::nullopt;
    if (!bytes) return Reply::failure("missing or invalid pcm");
    try {
        return withSegments(open->second->feed(samplesFromBytes(*bytes), request.offset_ms.value_or(0)));
    } catch (const std::exception& error) {
        return Reply::failure(std::string("feed failed: ") + error.what());
    }
}

Reply Runner::finish(const Request& request) {
    std::vector<std::string> names;
    if (request.stream) {
        names.push_back(*request.stream);
    } else {
        for (const auto& entry : streams) names.push_back(entry.first);
    }
    std::vector<Seg> combined;
    std::optional<std::string> failed;
    for (const std::string& name : names) {
        auto entry = streams.extract(name);
        if (entry.empty()) continue;
        TranscriptionStream& stream = *entry.mapped();
        try {
            for (Seg& seg : stream.finish()) {
                seg.speaker = name;
                combined.push_back(std::move(seg));
            }
        } catch (const std::exception&) {
            // A stream that fails to finish contributes nothing; the others still do.
        }
        // What was recognised before a recogniser failed is kept, and the failure said.
        if (auto failure = stream.failure()) failed = std::string("finish failed: ") + failure->what();
    }
    Reply reply = withSegments(std::move(combined));
    if (failed) {
        reply.ok = false;
        reply.error = std::move(failed);
    }
    return reply;
}

LineServer Runner::lineServer() {
    return jsonLinesServer(kMaxRequestLine, decodeRequest, [this](const Request& request) { return handle(request); },
                           encodeReply, kEncodeFailedLine);
}

}  // namespace tevoli::asr
