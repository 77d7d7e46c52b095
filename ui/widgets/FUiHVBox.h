#pragma once

#include "FUiObject.h"

class FIUiObjectFactory;

// HBOX and VBOX: the layout engine. A box hands its rectangle out to its
// children along its axis (left to right, or top to bottom) by their minimums,
// fixed sizes, stretches and maximums, and gives each the whole extent across.
// It can collapse itself to nothing on command, its children then hidden.
class FUiHVBox : public FUiObject
{
public:
    explicit FUiHVBox(const char* typeName);

    bool ConnectRelays() override;
    FIUiRelay* GetUiRelay(const FWideString& name) override;
    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool IsHBox() override { return m_bHorizontal; }
    bool IsVBox() override { return !m_bHorizontal; }
    bool SetRect(int x, int y, int width, int height) override;
    bool ReInitLayout() override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    void Tick(int elapsedMs) override;
    FIUiObject* HitTest(int x, int y) override;

    bool IsHidden() const { return m_bHideChildren; }

private:
    FLayoutObject& priAlong() { return m_bHorizontal ? m_hLayout : m_vLayout; }
    FLayoutObject& priAcross() { return m_bHorizontal ? m_vLayout : m_hLayout; }
    void priRequirements();
    void priSaveAndCollapse();
    // Back to the saved records; false when the box was not hidden.
    bool priRestore();
    bool priDistribute(int start, int length);

    bool m_bHorizontal;
    int m_iHStretch = 0;
    int m_iVStretch = 0;
    bool m_bHideChildren = false;
    FLayoutObject m_savedH;
    FLayoutObject m_savedV;
    bool m_bShowOutline = false;
    // The along stretch the box had before it zeroed it because every child
    // was fixed; given back once a child stretches again.
    bool m_bAlongZeroed = false;
    int m_iAlongBeforeZero = 0;
    RelayEvent* m_pOnGetChildVisibility = nullptr;
};
