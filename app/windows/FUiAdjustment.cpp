#include "FUiAdjustment.h"

#include <string>
#include <vector>

#include "FUiObjectFactory.h"

namespace
{

const char* const kEvents[] = {"ON_UPDATE_EXPCOMP",   "ON_UPDATE_CONTRAST",     "ON_UPDATE_SHADOW",
                               "ON_UPDATE_HIGHLIGHT", "ON_UPDATE_SATURATION",   "ON_UPDATE_SHARPNESS",
                               "ON_UPDATE_RETINEX",   "ON_UPDATE_COLOR_ADJUST", "ON_DEFAULT",
                               "ON_TELL_SLIDER",      "ON_SEND_SAVED_LIST",     "ON_GET_SAVED_LIST",
                               "ON_CHECK_SETTINGS"};

class FUiAdjustmentCreator : public FIUiObjectCreator
{
public:
    FIUiObject* CreateUiObject(const char* typeName) override { return new FUiAdjustment(typeName); }
};

} // namespace

FUiAdjustment::FUiAdjustment(const char* typeName) : FUiObject(typeName)
{
    for (const char* name : kEvents)
        AddEvent(FWideString(name));
}

FUiAdjustment::~FUiAdjustment() = default;

bool FUiAdjustment::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    InitNonVisualUiObject(this, app, window, parent, tag);
    return true;
}

void FUiAdjustment::priShow(const ProcessingSettings& settings)
{
    m_pShown = std::make_unique<ProcessingSettings>(settings);
    const ProcessingSettings& shown = *m_pShown;
    const double values[7] = {shown.Exposure,   shown.Contrast,  shown.Blackness, shown.Highlight,
                              shown.Saturation, shown.Sharpness, shown.Retinex};
    for (int i = 0; i < 7; ++i) {
        double position = ProcessingSettings::SliderPosition(values[i]);
        if (RelayEvent* event = FindEvent(FWideString(kEvents[i])))
            event->Fire(&position);
    }
    // The three gains lie one after another in the record.
    if (RelayEvent* event = FindEvent(FWideString("ON_UPDATE_COLOR_ADJUST")))
        event->Fire(&m_pShown->ColorAdjustR);
}

bool FUiAdjustment::UiRelayMessage(const FWideString& message, void* data)
{
    const std::string name = message.GetNarrow();
    if (name == "Post Creation Initialization") {
        std::vector<FWideString> list;
        if (RelayEvent* event = FindEvent(FWideString("ON_GET_SAVED_LIST")))
            event->Fire(&list);
        if (RelayEvent* event = FindEvent(FWideString("ON_SEND_SAVED_LIST")))
            event->Fire(&list);
        if (RelayEvent* event = FindEvent(FWideString("ON_CHECK_SETTINGS")))
            event->Fire(nullptr);
        return true;
    }
    if (name == "we're goin' bye-bye")
        return true;
    if (name == "Default") {
        priShow(m_Defaults);
        return true;
    }
    if (name != "SetDefaultSettings" && name != "SettingInfo" && name != "SettingsMode")
        return FUiObject::UiRelayMessage(message, data);
    if (!data)
        return false;
    if (name == "SetDefaultSettings") {
        m_Defaults = *static_cast<const ProcessingSettings*>(data);
    } else if (name == "SettingInfo") {
        priShow(*static_cast<const ProcessingSettings*>(data));
    } else {
        double position = *static_cast<const double*>(data);
        if (RelayEvent* event = FindEvent(FWideString("ON_TELL_SLIDER")))
            event->Fire(&position);
    }
    return true;
}

bool RegisterAdjustmentCreator(FIUiObjectFactory* factory)
{
    if (!factory)
        return false;
    auto* creator = new FUiAdjustmentCreator();
    if (factory->Register("ADJUSTMENT_MGR", creator))
        return true;
    delete creator;
    return false;
}
