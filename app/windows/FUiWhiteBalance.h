#pragma once

// WHITE_BAL_WIN_MGR: the white-balance chooser's logic. It shows the illuminants of an image
// translated into the current language and sends the user's choice back as the internal
// white-balance name.

#include <vector>

#include "FUiObject.h"
#include "FWideString.h"

class FIUiMultiLangString;
class FIUiObjectFactory;

class FUiWhiteBalance : public FUiObject
{
public:
    static constexpr int kNameCount = 13;

    explicit FUiWhiteBalance(const char* typeName);
    ~FUiWhiteBalance() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    // Fails when any of the thirteen display-string keys is missing.
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;

    const std::vector<FWideString>& GetShownList() const { return m_shown; }
    const FWideString& GetChoice() const { return m_usChoice; }

private:
    FWideString priTranslate(const FWideString& name) const;
    FWideString priTranslateBack(const FWideString& text) const;
    void priFire(const char* event, void* data);

    FIUiMultiLangString* m_apStrings[kNameCount] = {};
    std::vector<FWideString> m_shown;
    FWideString m_usChoice;
    bool m_bLastWasChoice = false;
};

bool RegisterWhiteBalanceCreator(FIUiObjectFactory* factory);
