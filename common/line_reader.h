#pragma once
#include <cstddef>
#include <optional>
#include <string>

namespace tevoli {

struct Line {
    std::string text;      // without the line feed; empty when `tooLong`
    bool tooLong = false;  // the line exceeded the reader's limit and was skipped whole
};

// Reads lines from a file descriptor without ever holding more than `maxLength`
// bytes of one line, so a gigantic line cannot exhaust memory. A line over the
// limit that holds only white space comes back empty, not `tooLong`: there is
// nothing in it to refuse. The last line may lack its line feed. Interrupted reads
// are retried; a read error ends the input.
class LineReader {
public:
    explicit LineReader(int fd, std::size_t maxLength);
    std::optional<Line> next();

private:
    bool fill();

    int fd_;
    std::size_t maxLength_;
    std::string buffer_;
    std::size_t start_ = 0;
    bool eof_ = false;
};

}  // namespace tevoli
