#include <gtest/gtest.h>

#include <algorithm>

#include "DevChain.h"

// Every threaded stage splits its rows over the threads; none may let the split show.
TEST(DevChainTest, SameBytesForAnyThreadCount)
{
    devchain::Chain chain(323, 211);
    devchain::Result one;
    chain.Run(1, one);
    ASSERT_GT(one.jpeg.size(), 1000u);
    // A picture, not a flat field, so that a difference would show.
    const auto [lo, hi] = std::minmax_element(one.rgb.begin(), one.rgb.end());
    ASSERT_GT(*hi - *lo, 100);
    for (int threads : {2, 4, 8}) {
        devchain::Result many;
        chain.Run(threads, many);
        EXPECT_EQ(many.rgb, one.rgb) << threads << " threads";
        EXPECT_EQ(many.jpeg, one.jpeg) << threads << " threads";
    }
    // A second run on the kept working storage changes nothing either.
    devchain::Result again;
    chain.Run(1, again);
    EXPECT_EQ(again.jpeg, one.jpeg);
}
