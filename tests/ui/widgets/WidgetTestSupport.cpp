#include "WidgetTestSupport.h"

#include "FHeadlessDesktop.h"
#include "FIOsTextLayer.h"
#include "FProbeObject.h"
#include "FPropList.h"
#include "FUiObjectFactory.h"
#include "FUiWidgetFrame.h"

FTestLeaf::FTestLeaf(const char* typeName) : FUiObject(typeName) {}

FTestLeaf* FTestLeaf::Make(bool horizontal, int minimum, int stretch, bool fixed, int maximum)
{
    FTestLeaf* leaf = new FTestLeaf("LEAF");
    FLayoutObject* layout = leaf->GetLayoutObject(horizontal);
    layout->m_iMinSize = minimum;
    layout->m_iSize = minimum;
    layout->m_iStretch = stretch;
    layout->m_iWeight = stretch;
    layout->m_bFixed = fixed;
    if (maximum >= 0)
        layout->SetMaxSize(maximum);
    SetWidgetLayout(*leaf->GetLayoutObject(!horizontal), 0, 0);
    return leaf;
}

bool FTestLeaf::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    if (!FUiObject::InitUiObject(app, window, parent, tag) || !tag)
        return false;
    SetWidgetLayout(m_hLayout, tag->GetInt("MinHSize", 0), tag->GetInt("HStretch", 0));
    SetWidgetLayout(m_vLayout, tag->GetInt("MinVSize", 0), tag->GetInt("VStretch", 0));
    bool found = false;
    const int maxH = tag->GetInt("MaxHSize", 0, &found);
    if (found)
        m_hLayout.SetMaxSize(maxH);
    const int maxV = tag->GetInt("MaxVSize", 0, &found);
    if (found)
        m_vLayout.SetMaxSize(maxV);
    if (!tag->GetBool("Fixed", true)) {
        m_hLayout.m_bFixed = false;
        m_vLayout.m_bFixed = false;
    }
    return true;
}

FIUiObject* FTestLeaf::HitTest(int x, int y)
{
    return WidgetRectContains(m_rect, x, y) ? this : nullptr;
}

namespace
{
class FTestLeafCreator final : public FUiWidgetCreator<FTestLeaf>
{
};
} // namespace

bool RegisterTestLeaf(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FTestLeafCreator>(factory, "LEAF");
}

std::string WidgetScript(const std::string& body, const std::string& rootAttributes)
{
    return R"(<UI_SCRIPT Name="TestApp" HasPersistantDataStore="true" )" + rootAttributes + R"(>
  <LANGUAGES><LANGUAGE Name="English" Default="true"/><LANGUAGE Name="German"/></LANGUAGES>
  <FONTS><APPFONT Name="Body" Height="14" Color="#000000"><MSWFONT><English Fontname="DejaVu Sans"/>
    <German Fontname="DejaVu Sans" Height="16"/></MSWFONT></APPFONT></FONTS>
  <DISPLAY_STRING Name="Title" AppFont="Body"><English Text="Main"/><German Text="Hauptfenster"/></DISPLAY_STRING>
  <DISPLAY_STRING Name="Ok" AppFont="Body"><English Text="OK"/></DISPLAY_STRING>
)" + body + "</UI_SCRIPT>";
}

std::unique_ptr<FUiTestApp> MakeWidgetRun(const std::string& script,
                                          std::initializer_list<FWidgetRegistration> families,
                                          const std::function<void(FUiTestApp&)>& prepare)
{
    UseBoxFont();
    auto run = std::make_unique<FUiTestApp>(script, false);
    FIUiObjectFactory* factory = run->GetApp()->GetUiObjectFactory();
    RegisterTestLeaf(factory);
    for (FWidgetRegistration family : families)
        family(factory);
    if (prepare)
        prepare(*run);
    if (run->Init())
        HeadlessPumpUntilIdle();
    return run;
}

FGenericUiWindow* FindWidgetWindow(FUiTestApp& run, const char* name)
{
    return dynamic_cast<FGenericUiWindow*>(run.GetApp()->FindUiWindow(FWideString(name)));
}

FIUiObject* FindWidget(FUiTestApp& run, const char* dottedName)
{
    return dynamic_cast<FIUiObject*>(run.GetApp()->GetUiRelay(FWideString(dottedName)));
}

std::string RectText(const FRect& rect)
{
    return std::to_string(rect.left) + "," + std::to_string(rect.top) + "," + std::to_string(rect.right) +
           "," + std::to_string(rect.bottom);
}

void UseBoxFont()
{
    SelectOsTextLayer(FOsTextLayerKind::kBoxFont);
}

std::string TakeProbeMessages(FProbeObject* probe)
{
    std::string messages;
    for (const FProbeRecord& record : probe->GetRecords()) {
        if (record.message == "Post Creation Initialization")
            continue;
        messages +=
            (messages.empty() ? "" : ",") + record.message + (record.data.empty() ? "" : "=" + record.data);
    }
    probe->Clear();
    return messages;
}
