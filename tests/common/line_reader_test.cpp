#include "line_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>

namespace {

// Lines read back from `input` written into a pipe, with over-long lines as "<long>".
std::vector<std::string> readAll(const std::string& input, std::size_t maxLength) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    std::thread writer([&] {
        std::size_t off = 0;
        while (off < input.size()) {  // small writes, so lines straddle reads
            const ssize_t n = write(fds[1], input.data() + off, std::min<std::size_t>(7, input.size() - off));
            off += static_cast<std::size_t>(n);
        }
        close(fds[1]);
    });
    tevoli::LineReader reader(fds[0], maxLength);
    std::vector<std::string> lines;
    while (auto line = reader.next()) lines.push_back(line->tooLong ? "<long>" : line->text);
    writer.join();
    close(fds[0]);
    return lines;
}

}  // namespace

TEST(LineReader, SplitsOnLineFeedsAndKeepsALastLineWithoutOne) {
    EXPECT_EQ(readAll("a\n\nbc\r\nlast", 100), (std::vector<std::string>{"a", "", "bc\r", "last"}));
    EXPECT_TRUE(readAll("", 100).empty());
}

TEST(LineReader, SkipsOverLongLinesWholeAndGoesOn) {
    const std::string big(10000, 'x');
    EXPECT_EQ(readAll("ok\n" + big + "\nnext\n" + big, 64),
              (std::vector<std::string>{"ok", "<long>", "next", "<long>"}));
    EXPECT_EQ(readAll(std::string(64, 'y') + "\n", 64), (std::vector<std::string>{std::string(64, 'y')}));
    EXPECT_EQ(readAll(std::string(65, 'y') + "\nz\n", 64), (std::vector<std::string>{"<long>", "z"}));
}
