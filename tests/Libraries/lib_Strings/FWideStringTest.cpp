#include <gtest/gtest.h>

#include "FWideString.h"

TEST(FWideString, EmptyStringOwnsATerminatedBuffer)
{
    FWideString s;
    EXPECT_EQ(0, s.GetLength());
    ASSERT_NE(nullptr, s.GetBuffer());
    EXPECT_EQ(0, s.GetBuffer()[0]);
    EXPECT_STREQ("", s.GetNarrow());
}
