#pragma once

// ADJUSTMENT_MGR: turns a ProcessingSettings into the palette's slider positions, relays the
// mode slider, and hands the saved-settings list to a list widget at start-up.

#include <memory>

#include "FUiObject.h"
#include "ProcessingSettings.h"

class FIUiObjectFactory;

class FUiAdjustment : public FUiObject
{
public:
    explicit FUiAdjustment(const char* typeName);
    ~FUiAdjustment() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;

private:
    void priShow(const ProcessingSettings& settings);

    ProcessingSettings m_Defaults;
    std::unique_ptr<ProcessingSettings> m_pShown;
};

bool RegisterAdjustmentCreator(FIUiObjectFactory* factory);
