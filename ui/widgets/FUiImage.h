#pragma once

#include "FUiObject.h"

// IMAGE: a skin image scaled as a whole to its rectangle, with an optional
// content box on top; clickable, hit by its opaque pixels, replaceable.
class FUiImage : public FUiObject
{
public:
    explicit FUiImage(const char* typeName);
    ~FUiImage() override;

    FIUiRelay* GetUiRelay(const FWideString& name) override;
    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    bool ReInitLayout() override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    FIUiObject* HitTest(int x, int y) override;
    bool MouseDown(int x, int y, bool ctrl, bool shift) override;

    bool IsVisible() const { return m_bVisible; }
    FIUiPixmap* GetPicture() const { return m_pPicture; }

private:
    // The minimums against the current source and content box; false when the
    // box needs more room on an axis that does not stretch.
    bool priMinimums(int& width, int& height);

    int m_iMinHSize = -1;
    int m_iMinVSize = -1;
    bool m_bMinHGiven = false;
    bool m_bMinVGiven = false;
    bool m_bVisible = true;
    FIUiPixmap* m_pSource = nullptr;
    FIUiPixmap* m_pPicture = nullptr;
    int m_iHStretch = 0;
    int m_iVStretch = 0;
    bool m_bUseAlphaForHitTest = true;
    FIUiObject* m_pBox = nullptr;
    RelayEvent* m_pOnPress = nullptr;
};

// RESIZED_IMAGE: a skin image stretched around a resize rectangle with its
// borders kept, for backgrounds and panels of any size.
class FUiResizedImage : public FUiObject
{
public:
    explicit FUiResizedImage(const char* typeName);
    ~FUiResizedImage() override;

    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    FIUiObject* HitTest(int x, int y) override;

    FIUiPixmap* GetPicture() const { return m_pPicture; }

private:
    FIUiPixmap* m_pSource = nullptr;
    FIUiPixmap* m_pPicture = nullptr;
    FRect m_resizeRect;
};
