#include "line_reader.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "utf8.h"

namespace tevoli {

LineReader::LineReader(int fd, std::size_t maxLength) : fd_(fd), maxLength_(maxLength) {}

bool LineReader::fill() {
    if (eof_) return false;
    if (start_ > 0) {
        buffer_.erase(0, start_);
        start_ = 0;
    }
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n > 0) {
            buffer_.append(chunk, static_cast<std::size_t>(n));
            return true;
        }
        if (n < 0 && errno == EINTR) continue;
        eof_ = true;
        return false;
    }
}

std::optional<Line> LineReader::next() {
    bool skipping = false;     // inside an over-long line, discarding up to its line feed
    bool blank = true;         // what was discarded of it is white space only
    std::size_t searched = 0;  // bytes after start_ known to hold no line feed
    // The line as it ends: `rest` is what is left of it.
    auto ended = [&](std::string_view rest) {
        Line line;
        if (skipping || rest.size() > maxLength_) {
            line.tooLong = !(blank && isBlankUtf8(rest));
        } else {
            line.text.assign(rest);
        }
        return line;
    };
    for (;;) {
        const std::size_t end = buffer_.find('\n', start_ + searched);
        if (end != std::string::npos) {
            Line line = ended(std::string_view(buffer_).substr(start_, end - start_));
            start_ = end + 1;
            return line;
        }
        if (buffer_.size() - start_ > maxLength_) {
            // Only a character cut short at the end is kept, to be judged whole.
            const std::string_view held = std::string_view(buffer_).substr(start_);
            const std::size_t whole = completeUtf8Length(held);
            blank = blank && isBlankUtf8(held.substr(0, whole));
            skipping = true;
            buffer_.erase(0, start_ + whole);
            start_ = 0;
        }
        searched = buffer_.size() - start_;
        if (!fill()) break;  // fill() moves the unread bytes to the front: `searched` still holds
    }
    const bool rest = start_ < buffer_.size();
    Line line = ended(std::string_view(buffer_).substr(start_));
    buffer_.clear();
    start_ = 0;
    if (!rest && !skipping) return std::nullopt;
    return line;
}

}  // namespace tevoli
