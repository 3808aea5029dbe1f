#include <gtest/gtest.h>

#include "base/cvstr.h"

TEST(CvStr, CopyCutsAndTerminatesWithinCapacity)
{
    wchar_t buf[6];
    wmemset(buf, L'#', 6);
    EXPECT_TRUE(CvStrCopy(buf, L"abcde"));
    EXPECT_STREQ(buf, L"abcde");
    EXPECT_FALSE(CvStrCopy(buf, L"abcdefgh"));
    EXPECT_STREQ(buf, L"abcde");
    EXPECT_TRUE(CvStrCopy(buf, nullptr));
    EXPECT_STREQ(buf, L"");
}

TEST(CvStr, AppendLeavesTargetUnchangedWhenItWouldNotFit)
{
    wchar_t buf[8] = L"abc";
    EXPECT_TRUE(CvStrAppend(buf, L"def"));
    EXPECT_STREQ(buf, L"abcdef");
    EXPECT_FALSE(CvStrAppend(buf, L"gh"));  // 8 characters need 9 places
    EXPECT_STREQ(buf, L"abcdef");
    EXPECT_TRUE(CvStrAppend(buf, L"g"));
    EXPECT_STREQ(buf, L"abcdefg");

    wchar_t unterminated[3] = {L'a', L'b', L'c'};
    EXPECT_FALSE(CvStrAppend(unterminated, L""));
}
