#include "runner.h"

#include <functional>
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

std::string streamName(const Request& request) { return request.stream.value_or("default"); }

}  // namespace

Runner::Runner(SpeechEngine& engine, Sleep sleep) : engine_(engine), sleep_(std::move(sleep)) {}

Reply Runner::handle(const Request& request) {
    using Operation = std::function<Reply(Runner&, const Request&)>;
    static const std::map<std::string_view, Operation> operations = {
        {"status", [](Runner& r, const Request&) { return r.status(); }},
        {"begin", [](Runner& r, const Request& q) { return r.begin(streamName(q), q.locale); }},
        {"feed", [](Runner& r, const Request& q) { return r.feed(streamName(q), q.pcm, q.offset_ms.value_or(0)); }},
        {"finish", [](Runner& r, const Request& q) { return r.finish(q.stream); }},
    };
    const auto operation = operations.find(request.op);
    if (operation == operations.end()) return Reply::failure("unknown op: " + request.op);
    return operation->second(*this, request);
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

Reply Runner::status() {
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

Reply Runner::begin(const std::string& stream, const std::optional<std::string>& locale) {
    Reply reply = success();
    reply.downloaded = false;
    if (streams.contains(stream)) return reply;
    if (!engine_.isAvailable()) return Reply::failure("Apple's speech recognizer isn't available");
    const auto resolved = resolveLocale(locale);
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

Reply Runner::feed(const std::string& stream, const std::optional<std::string>& pcm, std::int64_t offsetMs) {
    const auto open = streams.find(stream);
    if (open == streams.end()) return Reply::failure("feed before begin for stream \"" + stream + "\"");
    const std::optional<std::string> bytes = pcm ? decodeBase64(*pcm) : std::nullopt;
    if (!bytes) return Reply::failure("missing or invalid pcm");
    try {
        return withSegments(open->second->feed(samplesFromBytes(*bytes), offsetMs));
    } catch (const std::exception& error) {
        return Reply::failure(std::string("feed failed: ") + error.what());
    }
}

Reply Runner::finish(const std::optional<std::string>& stream) {
    std::vector<std::string> names;
    if (stream) {
        names.push_back(*stream);
    } else {
        for (const auto& entry : streams) names.push_back(entry.first);
    }
    std::vector<Seg> combined;
    for (const std::string& name : names) {
        auto entry = streams.extract(name);
        if (entry.empty()) continue;
        try {
            for (Seg& seg : entry.mapped()->finish()) {
                seg.speaker = name;
                combined.push_back(std::move(seg));
            }
        } catch (const std::exception&) {
            // A stream that fails to finish contributes nothing; the others still do.
        }
    }
    return withSegments(std::move(combined));
}

}  // namespace tevoli::asr
