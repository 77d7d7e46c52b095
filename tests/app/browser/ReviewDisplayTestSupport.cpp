#include "ReviewDisplayTestSupport.h"

#include "FGenericUiWindow.h"
#include "FHeadlessDesktop.h"
#include "FIOsTextLayer.h"
#include "FIUiPixmap.h"
#include "FProbeObject.h"
#include "FReviewDisplayWidgets.h"
#include "FUiObjectFactory.h"
#include "FUiScriptFixture.h"
#include "FUiWidgets.h"

namespace
{
int g_liveImages = 0;
} // namespace

FTestImage::FTestImage(int cols, int rows, const FUiColor& fill)
    : m_pixels(size_t(cols > 0 ? cols : 0) * size_t(rows > 0 ? rows : 0) * 4 + 4)
{
    for (size_t i = 0; i + 4 <= m_pixels.size(); i += 4) {
        m_pixels[i] = fill.blue;
        m_pixels[i + 1] = fill.green;
        m_pixels[i + 2] = fill.red;
        m_pixels[i + 3] = fill.alpha;
    }
    m_pixmap = std::make_unique<FPixmap_Display>(m_pixels.data(), cols, rows, cols * 4);
    ++g_liveImages;
}

FTestImage::~FTestImage()
{
    --g_liveImages;
}

uint32_t FTestImage::Release()
{
    const uint32_t left = --m_refs;
    if (left == 0)
        delete this;
    return left;
}

void FTestImage::SetPixel(int x, int y, const FUiColor& colour)
{
    uint8_t* p = m_pixmap->GetRowAddress(y) + ptrdiff_t(x) * 4;
    p[0] = colour.blue;
    p[1] = colour.green;
    p[2] = colour.red;
    p[3] = colour.alpha;
}

int FTestImage::GetLiveCount()
{
    return g_liveImages;
}

void WriteReviewSkins(FUiTestApp& run)
{
    FUiScriptFolder& folder = run.GetScriptFolder();
    const FUiColor icon(250, 250, 0, 255);
    WriteTestPng(folder.Join("eye.png"), 16, 16, icon, icon);
    WriteTestPng(folder.Join("cursor.png"), 16, 16, FUiColor(0, 0, 0, 255), FUiColor(255, 255, 255, 255));
    WriteTestPng(folder.Join("cursor8.png"), 8, 8, FUiColor(0, 0, 0, 255), FUiColor(0, 0, 0, 255));
    WriteTestPng(folder.Join("marker.png"), 5, 5, FUiColor(255, 0, 255, 255), FUiColor(255, 0, 255, 255));
}

std::unique_ptr<FUiTestApp> ReviewRun(const std::string& body, int dx, int dy,
                                      const std::function<void(FUiTestApp&)>& prepare)
{
    SelectOsTextLayer(FOsTextLayerKind::kBoxFont);
    const std::string script = R"(<UI_SCRIPT Name="TestApp" HasPersistantDataStore="true">
  <LANGUAGES><LANGUAGE Name="English" Default="true"/></LANGUAGES>
  <PROBE Name="Probe"/><WINDOW Name="W" BgColor="#FFFFFF" DX=")" +
                               std::to_string(dx) + R"(" DY=")" + std::to_string(dy) + R"(">)" + body +
                               "</WINDOW></UI_SCRIPT>";
    auto run = std::make_unique<FUiTestApp>(script, false);
    FIUiObjectFactory* factory = run->GetApp()->GetUiObjectFactory();
    RegisterUiWidgets(factory);
    RegisterReviewDisplayCreators(factory);
    WriteReviewSkins(*run);
    if (prepare)
        prepare(*run);
    if (run->Init())
        HeadlessPumpUntilIdle();
    return run;
}

FGenericUiWindow* ReviewWindow(FUiTestApp& run)
{
    return dynamic_cast<FGenericUiWindow*>(run.GetApp()->FindUiWindow(FWideString("W")));
}

std::string Rgb(const FUiColor& colour)
{
    return std::to_string(colour.red) + "," + std::to_string(colour.green) + "," +
           std::to_string(colour.blue);
}

std::string DrawnPixel(FUiTestApp& run, int x, int y)
{
    FGenericUiWindow* window = ReviewWindow(run);
    window->UpdateIfInvalid();
    FUiColor colour;
    window->GetWindowPixmap()->GetPixel(x, y, colour);
    return Rgb(colour);
}

FProbeObject* ReviewProbe()
{
    return FProbeObject::FindLive("Probe");
}
