#include <gtest/gtest.h>

#include "FMutex.h"

TEST(FMutex, LockAndUnlock)
{
    FMutex m;
    EXPECT_TRUE(m.Lock(0));
    EXPECT_TRUE(m.Unlock());
}
