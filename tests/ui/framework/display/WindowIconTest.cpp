#include <gtest/gtest.h>

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdint>
#include <vector>

#include "FGenericUiWindow.h"
#include "FOsBackend.h"
#include "FOsWindowIcon.h"
#include "FSdlUiWindow.h"
#include "FUiTestApp.h"

namespace
{

const char* const kScript = R"(<UI_SCRIPT Name="IconApp" AppName="IconAppWnd">
  <WINDOW Name="W" DX="120" DY="80" BgColor="#FFFFFF" X="30" Y="30"/>
</UI_SCRIPT>)";

// The window's icon as the window manager reads it: width, height, then ARGB pixels.
std::vector<unsigned long> NetWmIcon(SDL_Window* window)
{
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11)
        return {};
    Display* display = info.info.x11.display;
    const Atom property = XInternAtom(display, "_NET_WM_ICON", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> values;
    if (XGetWindowProperty(display, info.info.x11.window, property, 0, 1 << 20, False, XA_CARDINAL, &type,
                           &format, &count, &after, &data) == Success &&
        data && format == 32) {
        const auto* longs = reinterpret_cast<const unsigned long*>(data);
        values.assign(longs, longs + count);
    }
    if (data)
        XFree(data);
    return values;
}

} // namespace

// The icon the program set travels to the window manager with every window.
TEST(WindowIconTest, EveryWindowCarriesTheProgramsIcon)
{
    SetOsBackend(EOsBackend::kDisplay);
    // A 4 x 4 picture: opaque red with one clear corner.
    std::vector<uint8_t> rgba(4 * 4 * 4, 0);
    for (size_t i = 4; i < rgba.size(); i += 4) {
        rgba[i] = 0xFF;
        rgba[i + 3] = 0xFF;
    }
    ASSERT_TRUE(SetOsWindowIcon(4, rgba));
    EXPECT_FALSE(SetOsWindowIcon(5, rgba)) << "pixels that do not match the size";
    {
        FUiTestApp run(kScript);
        ASSERT_TRUE(run.GetInitResult());
        auto* window = dynamic_cast<FGenericUiWindow*>(run.GetApp()->FindUiWindow(FWideString("W")));
        ASSERT_TRUE(window);
        FSdlWindowProbe probe;
        ASSERT_TRUE(GetSdlWindowProbe(window->GetOsWindow(), probe));
        const std::vector<unsigned long> icon = NetWmIcon(SDL_GetWindowFromID(probe.windowId));
        ASSERT_EQ(icon.size(), 2u + 16u);
        EXPECT_EQ(icon[0], 4u);
        EXPECT_EQ(icon[1], 4u);
        EXPECT_EQ(icon[2] >> 24, 0u) << "the clear corner";
        EXPECT_EQ(icon[3] & 0xFFFFFFFFu, 0xFFFF0000u) << "opaque red";
    }
    SetOsWindowIcon(0, {});
    SetOsBackend(EOsBackend::kHeadless);
}
