#include "FUiWhiteBalance.h"

#include <string>

#include "FDebugTrace.h"
#include "FIUiApp.h"
#include "FPropList.h"
#include "FUiMultiLangString.h"
#include "FUiObjectFactory.h"

namespace
{

const char* const kNames[FUiWhiteBalance::kNameCount] = {
    "Auto",     "Sunlight",    "Daylight", "Shade",  "Overcast", "Cloudy",    "Incandescent",
    "Tungsten", "Fluorescent", "Flash",    "Custom", "Original", "Monochrome"};
const char* const kKeys[FUiWhiteBalance::kNameCount] = {
    "AutoWBString",   "SunlightWBString",     "DaylightWBString",  "ShadeWBString",       "OvercastWBString",
    "CloudyWBString", "IncandescentWBString", "TungstenWBString",  "FluorescentWBString", "FlashWBString",
    "CustomWBString", "OriginalWBString",     "MonochromeWBString"};
// The order in which a display text is translated back.
const int kBackOrder[FUiWhiteBalance::kNameCount] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 11};

const char* const kEvents[] = {"ON_FILENAME", "ON_NEW_LIST", "ON_SAVE", "ON_CANCEL", "ON_CHOICE"};

int IndexOf(const FWideString& name)
{
    for (int i = 0; i < FUiWhiteBalance::kNameCount; ++i)
        if (name == FWideString(kNames[i]))
            return i;
    return -1;
}

const FWideString* CurrentText(FIUiMultiLangString* string)
{
    return string ? string->GetText() : nullptr;
}

class FUiWhiteBalanceCreator : public FIUiObjectCreator
{
public:
    FIUiObject* CreateUiObject(const char* typeName) override { return new FUiWhiteBalance(typeName); }
};

} // namespace

FUiWhiteBalance::FUiWhiteBalance(const char* typeName) : FUiObject(typeName)
{
    for (const char* name : kEvents)
        AddEvent(FWideString(name));
}

FUiWhiteBalance::~FUiWhiteBalance() = default;

bool FUiWhiteBalance::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    if (!tag)
        return false;
    for (int i = 0; i < kNameCount; ++i) {
        bool found = false;
        const FWideString stringName = tag->GetString(FWideString(kKeys[i]), FWideString(), &found);
        if (!found) {
            DebugTrace("FUiWhiteBalance: key %s missing\n", kKeys[i]);
            return false;
        }
        m_apStrings[i] = app && !stringName.IsEmpty() ? app->GetDisplayString(stringName) : nullptr;
    }
    return InitNonVisualUiObject(this, app, window, parent, tag);
}

void FUiWhiteBalance::priFire(const char* event, void* data)
{
    if (RelayEvent* relay = FindEvent(FWideString(event)))
        relay->Fire(data);
}

FWideString FUiWhiteBalance::priTranslate(const FWideString& name) const
{
    FWideString result = name;
    const int index = IndexOf(name);
    if (index >= 0)
        if (const FWideString* text = CurrentText(m_apStrings[index]))
            result = *text;
    DebugTrace("Translated to %s\n", result.GetNarrow());
    return result;
}

FWideString FUiWhiteBalance::priTranslateBack(const FWideString& text) const
{
    DebugTrace("Translating back for Save: %s\n", text.GetNarrow());
    if (text.IsEmpty()) {
        DebugTrace("Defaulting empty WB choice string to Auto\n");
        return FWideString("Auto");
    }
    for (int index : kBackOrder)
        if (const FWideString* shown = CurrentText(m_apStrings[index]))
            if (*shown == text)
                return FWideString(kNames[index]);
    return text;
}

bool FUiWhiteBalance::UiRelayMessage(const FWideString& message, void* data)
{
    const std::string name = message.GetNarrow();
    DebugTrace("FUiWhiteBalance got Msg %s\n", name.c_str());
    if (name != "Choice")
        m_bLastWasChoice = false;
    if (name == "Post Creation Initialization" || name == "we're goin' bye-bye")
        return true;
    if (name == "Save") {
        FWideString internal = priTranslateBack(m_usChoice);
        priFire("ON_SAVE", &internal);
        return true;
    }
    if (name == "Cancel") {
        priFire("ON_CANCEL", nullptr);
        return true;
    }
    if (name != "Illuminants" && name != "WBName" && name != "Filename" && name != "Choice")
        return FUiObject::UiRelayMessage(message, data);
    if (!data)
        return false;
    if (name == "Illuminants") {
        const auto& received = *static_cast<const std::vector<FWideString>*>(data);
        m_shown.clear();
        bool autoSeen = false, monochromeSeen = false;
        for (size_t i = 0; i < received.size(); ++i) {
            DebugTrace("Illuminant %d %s\n", static_cast<int>(i), received[i].GetNarrow());
            autoSeen = autoSeen || received[i] == FWideString("Auto");
            monochromeSeen = monochromeSeen || received[i] == FWideString("Monochrome");
            DebugTrace("Adding display string %s\n", received[i].GetNarrow());
            m_shown.push_back(priTranslate(received[i]));
        }
        if (!autoSeen)
            m_shown.push_back(priTranslate(FWideString("Auto")));
        if (!monochromeSeen)
            m_shown.push_back(priTranslate(FWideString("Monochrome")));
        m_shown.push_back(priTranslate(FWideString("Original")));
        std::vector<FWideString> copy = m_shown;
        priFire("ON_NEW_LIST", &copy);
    } else if (name == "WBName") {
        const FWideString& wanted = *static_cast<const FWideString*>(data);
        // Before any list there is nothing to choose: the choice is sent empty.
        m_usChoice = m_shown.empty() ? FWideString() : m_shown.front();
        const FWideString translated = priTranslate(wanted);
        for (const FWideString& entry : m_shown)
            if (entry == wanted || entry == translated) {
                m_usChoice = entry;
                break;
            }
        DebugTrace("WBName for sWBName %s m_sChoice %s\n", wanted.GetNarrow(), m_usChoice.GetNarrow());
        FWideString copy = m_usChoice;
        priFire("ON_CHOICE", &copy);
    } else if (name == "Filename") {
        priFire("ON_FILENAME", data);
    } else {
        if (m_bLastWasChoice)
            DebugTrace("Second choice WB clicked!\n");
        m_bLastWasChoice = true;
        m_usChoice = *static_cast<const FWideString*>(data);
        DebugTrace("Sending m_sChoice %s\n", m_usChoice.GetNarrow());
        FWideString copy = m_usChoice;
        priFire("ON_CHOICE", &copy);
    }
    return true;
}

bool RegisterWhiteBalanceCreator(FIUiObjectFactory* factory)
{
    if (!factory)
        return false;
    auto* creator = new FUiWhiteBalanceCreator();
    if (factory->Register("WHITE_BAL_WIN_MGR", creator))
        return true;
    delete creator;
    return false;
}
