#include "ControlsTestSupport.h"

#include "FHeadlessDesktop.h"
#include "FUiScriptFixture.h"
#include "FUiWidgets.h"
#include "WidgetTestSupport.h"

std::unique_ptr<FUiTestApp> ControlsRun(const std::string& body, const std::vector<FTestSkin>& skins)
{
    return MakeWidgetRun(
        WidgetScript(R"(<PROBE Name="Probe"/><WINDOW Name="W" BgColor="#FFFFFF" DX="200" DY="100">)" + body +
                     "</WINDOW>"),
        {RegisterUiWidgets}, [&skins](FUiTestApp& run) {
            for (const FTestSkin& skin : skins)
                WriteTestPng(run.GetScriptFolder().Join(skin.name), skin.width, skin.height, skin.fill,
                             skin.mark);
        });
}

FGenericUiWindow* ControlsWindow(FUiTestApp& run)
{
    return FindWidgetWindow(run, "W");
}

FHeadlessUiWindow* ControlsOs(FUiTestApp& run)
{
    FGenericUiWindow* window = ControlsWindow(run);
    return window ? dynamic_cast<FHeadlessUiWindow*>(window->GetOsWindow()) : nullptr;
}

std::string ColourText(const FUiColor& colour)
{
    return std::to_string(colour.red) + "," + std::to_string(colour.green) + "," +
           std::to_string(colour.blue) + "," + std::to_string(colour.alpha);
}

std::string PresentedPixel(FUiTestApp& run, int x, int y)
{
    ControlsWindow(run)->UpdateIfInvalid();
    const uint32_t p = ControlsOs(run)->GetPixel(x, y);
    return std::to_string((p >> 16) & 0xFF) + "," + std::to_string((p >> 8) & 0xFF) + "," +
           std::to_string(p & 0xFF) + "," + std::to_string(p >> 24);
}

void Press(FUiTestApp& run, int x, int y)
{
    ControlsOs(run)->InjectMouseDown(x, y);
    HeadlessPumpUntilIdle();
}

void Release(FUiTestApp& run, int x, int y)
{
    ControlsOs(run)->InjectMouseUp(x, y);
    HeadlessPumpUntilIdle();
}

void MoveTo(FUiTestApp& run, int x, int y)
{
    ControlsOs(run)->InjectMouseMove(x, y);
    HeadlessPumpUntilIdle();
}
