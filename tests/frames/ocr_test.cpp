#include "ocr.h"

#include <gtest/gtest.h>

#include <sstream>

#include "fake_media_services.h"

namespace tevoli::frames {
namespace {

TEST(OcrLine, JoinsLinesWithLineFeedsAndEscapesThePath) {
    EXPECT_EQ(ocrLine("a.png", {"A", "B"}), "{\"path\":\"a.png\",\"text\":\"A\\nB\"}\n");
    EXPECT_EQ(ocrLine("q\"b\\t\t.png", {}), "{\"path\":\"q\\\"b\\\\t\\t.png\",\"text\":\"\"}\n");
    EXPECT_EQ(ocrLine("x", {"caf\u00e9 na\u00efve"}), "{\"path\":\"x\",\"text\":\"caf\u00e9 na\u00efve\"}\n");
}

TEST(RunOcr, OneEngineOneLinePerPathInOrder) {
    FakeMediaServices services;
    services.linesByPath["a"] = {"first", "second"};
    std::ostringstream out;
    EXPECT_EQ(runOcr({"a", "missing", "a"}, services, out), std::nullopt);
    EXPECT_EQ(services.recognizersOpened, 1);
    EXPECT_EQ(services.recognizedPaths, (std::vector<std::string>{"a", "missing", "a"}));
    EXPECT_EQ(out.str(),
              "{\"path\":\"a\",\"text\":\"first\\nsecond\"}\n"
              "{\"path\":\"missing\",\"text\":\"\"}\n"
              "{\"path\":\"a\",\"text\":\"first\\nsecond\"}\n");
}

TEST(RunOcr, EngineThatCannotStartIsAFailureNotEmptyTexts) {
    FakeMediaServices services;
    services.recognizerStarts = false;
    std::ostringstream out;
    EXPECT_EQ(runOcr({"a"}, services, out), "text recognition unavailable: no model");
    EXPECT_EQ(out.str(), "");
}

}  // namespace
}  // namespace tevoli::frames
