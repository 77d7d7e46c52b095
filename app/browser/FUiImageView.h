#pragma once

#include <string>

#include "FRect.h"
#include "FReviewDisplayWidgets.h"
#include "FUiObject.h"
#include "FUiWidgetFrame.h"

class FIPMImage;
class FIUiObjectFactory;
class FIUiPixmap;

// The data of "NewLoupeImage": the magnified image and where its loupe goes.
struct FLoupeImageMessage {
    FIPMImage* image = nullptr;
    int left = 0;
    int top = 0;
};

// IMAGE_VIEW: one processed image shown unscaled in the middle of a framed area,
// with exposure warnings, a crop overlay, a loupe with a colour readout and the
// gray-balance pick. The images come from the window manager, sized to what the
// view reported; the view only holds references to them.
class FUiImageView : public FUiObject
{
public:
    explicit FUiImageView(const char* typeName);
    ~FUiImageView() override;

    bool ConnectRelays() override;
    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    FIUiObject* HitTest(int x, int y) override;
    bool MouseDown(int x, int y, bool ctrl, bool shift) override;
    void MouseUp(int x, int y, bool ctrl, bool shift) override;
    void MouseEnter(int x, int y) override;
    void MouseLeave(int x, int y) override;
    void MouseMove(int x, int y) override;

    // What tests and the benchmark look at.
    FIPMImage* GetImage() const { return m_pImage; }
    const FRect& GetImageRect() const { return m_imageRect; }
    const FRect& GetInnerRect() const { return m_innerRect; }
    const FRect& GetLoupeRect() const { return m_loupeRect; }
    bool IsLoupeEnabled() const { return m_bLoupeEnabled; }
    bool IsLoupeDrawn() const { return m_bLoupeDrawn; }
    bool IsPointerOverImage() const { return m_bOverImage; }
    bool IsGrayBalanceMode() const { return m_bGrayMode; }
    FUiColor GetCropBarColor() const { return m_cropBarColor; }
    FUiColor GetCropImageColor() const { return m_cropImageColor; }
    // Bars in the order left, top, right, bottom.
    const FRect& GetCropBar(int index) const { return m_cropBars[index]; }
    double GetCropFraction(int index) const { return m_crop[index]; }
    // The readout of the last drawn loupe and where its label went.
    const std::string& GetReadoutText() const { return m_readoutText; }
    const FRect& GetReadoutRect() const { return m_readoutRect; }
    FIUiPixmap* GetCursorPicture() const { return m_pCursor; }

private:
    void priDropImage(bool repaint);
    void priDropLoupeImage();
    void priRepaint(const FRect& rect);
    void priRepaintLastLoupe();
    void priShowPointer(bool show);
    void priNewImage(FIPMImage* image);
    void priPlaceCropBars();
    void priRequestLoupeImage();
    void priTrackLoupe(int x, int y);
    void priReportGrayPoint(int x, int y);
    void priDragCropBars(int x, int y);
    void priCopyImage(FIUiPixmap* target, FIPMImage* image, const FRect& destination, const FRect& source);
    void priDrawCrop(FIUiPixmap* target, const FRect& clip);
    void priDrawLoupe(FIUiPixmap* target, const FRect& clip);
    void priDrawReadout(FIUiPixmap* target, const FRect& clip, int red, int green, int blue);

    // Script keys.
    FUiInlineFont m_font;
    FIUiPixmap* m_pEyeDropper = nullptr;
    FFramedWidgetKeys m_keys;
    // FrameThickness, never negative: also the crop bars' thickness.
    int m_iFrameThickness = 0;
    FUiColor m_labelRed{255, 0, 0, 255};
    FUiColor m_labelGreen{0, 255, 0, 255};
    FUiColor m_labelBlue{0, 0, 255, 255};
    FIUiPixmap* m_pCursor = nullptr;
    int m_iCursorX = 0;
    int m_iCursorY = 0;
    int m_iLoupeSize = 64;
    bool m_bVisible = true;
    bool m_bCrop = false;
    FUiColor m_cropBarColor{255, 255, 255, 255};
    FUiColor m_cropImageColor{0, 0, 0, 255};
    FUiColor m_shadowColor{100, 130, 255, 255};
    FUiColor m_highlightColor{220, 0, 0, 255};

    RelayEvent* m_pOnNewImage = nullptr;
    RelayEvent* m_pOnImageResize = nullptr;
    RelayEvent* m_pOnNeedLoupeImage = nullptr;
    RelayEvent* m_pOnGrayBalanceXY = nullptr;

    FRect m_innerRect;
    FIPMImage* m_pImage = nullptr;
    FRect m_imageRect;
    // An image was placed since the last layout, so the image rectangle means something.
    bool m_bImagePlaced = false;
    int m_iShadowLevel = 0;
    int m_iHighlightLevel = 0;
    bool m_bWarnings = false;

    bool m_bLoupeEnabled = false;
    bool m_bOverImage = false;
    bool m_bLoupeDrawn = false;
    bool m_bLoupeCapture = false;
    FRect m_loupeRect;
    FRect m_lastLoupeRect;
    FIPMImage* m_pLoupeImage = nullptr;

    bool m_bGrayMode = false;
    bool m_bPicking = false;

    double m_crop[4] = {0.0, 0.0, 1.0, 1.0};
    FRect m_cropBars[4];
    bool m_bCropDrag = false;
    bool m_cropDragging[4] = {false, false, false, false};

    bool m_bPointerHidden = false;
    bool m_bCursorSet = false;

    // The readout label, kept while its text stays the same.
    std::string m_readoutText;
    FRect m_readoutRect;
    FIUiPixmap* m_pLabelShadow = nullptr;
    FIUiPixmap* m_pLabelColours[3] = {nullptr, nullptr, nullptr};
    std::string m_labelText;
};

bool RegisterImageViewCreator(FIUiObjectFactory* factory);
