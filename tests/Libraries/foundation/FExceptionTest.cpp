#include <gtest/gtest.h>

#include "FException.h"

TEST(FException, BaseDescriptionAndMessage)
{
    FException e("msg");
    EXPECT_STREQ("Brisal exception", e.GetDescription());
    EXPECT_STREQ("msg", e.GetMessage());
}
