#include "fail.h"

#include <gtest/gtest.h>

TEST(Fail, LineIsPrefixMessageAndLineFeed) {
    EXPECT_EQ(tevoli::failLine("tevoli-systemaudio: ", "could not read tap format"),
              "tevoli-systemaudio: could not read tap format\n");
    EXPECT_EQ(tevoli::failLine("", "could not read tap format"), "could not read tap format\n");
}

TEST(FailDeathTest, WritesToStandardErrorAndExitsWithOne) {
    EXPECT_EXIT(tevoli::fail("tevoli-frames: ", "boom"), testing::ExitedWithCode(1), "^tevoli-frames: boom\n$");
}
