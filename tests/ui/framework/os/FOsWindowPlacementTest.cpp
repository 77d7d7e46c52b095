#include <gtest/gtest.h>

#include "FOsWindowPlacement.h"

namespace
{

std::string Text(const FRect& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

TEST(OsWindowPlacement, CentresOnTheOwnerAndKeepsTheWindowOnTheScreen)
{
    const FRect screen(0, 0, 1920, 1080);
    const FRect owner(20, 30, 1080, 990);
    struct Case {
        const char* what;
        FRect window;
        const FRect* centreOn;
        const char* placed;
    };
    const Case cases[] = {
        {"on the screen: kept", FRect(1470, 30, 1870, 850), nullptr, "1470,30,1870,850"},
        {"past the right edge: moved in", FRect(1525, 30, 1925, 850), nullptr, "1520,30,1920,850"},
        {"past the bottom: moved up", FRect(100, 900, 500, 1100), nullptr, "100,880,500,1080"},
        {"above and left of the screen", FRect(-50, -10, 150, 90), nullptr, "0,0,200,100"},
        {"larger than the screen: its corner stays on it", FRect(300, 300, 2300, 1500), nullptr,
         "0,0,2000,1200"},
        {"a dialog on its owner", FRect(0, 0, 460, 150), &owner, "320,435,780,585"},
        {"a dialog with no owner: on the screen", FRect(0, 0, 460, 150), &screen, "730,465,1190,615"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Text(PlaceOsWindow(c.window, c.centreOn, screen)), c.placed) << c.what;
}

} // namespace
