#include "FReviewDisplayWidgets.h"

#include "FIOsUiWindow.h"
#include "FUiColorAdjust.h"
#include "FUiHistogram.h"
#include "FUiImageView.h"
#include "FUiWidgetFrame.h"

bool RegisterReviewDisplayCreators(FIUiObjectFactory* factory)
{
    const bool view = RegisterImageViewCreator(factory);
    const bool histogram = RegisterHistogramCreator(factory);
    const bool wheel = RegisterColorAdjustCreator(factory);
    return view && histogram && wheel;
}

void ShowWindowPointer(FIUiWindow* window, bool show)
{
    FGenericUiWindow* generic = GetWidgetWindow(window);
    if (FIOsUiWindow* os = generic ? generic->GetOsWindow() : nullptr)
        os->ShowCursor(show);
}

bool FFramedWidgetKeys::Read(FPropList* tag, FLayoutObject& horizontal, FLayoutObject& vertical)
{
    FRequiredWidgetKeys required(tag);
    required.Layout(minHSize, minVSize, hStretch, vStretch);
    frameColor = required.Color("FrameColor", frameColor);
    frameThickness = required.Int("FrameThickness");
    fillColor = required.Color("FillColor", fillColor);
    if (!required.AllFound())
        return false;
    SetWidgetLayout(horizontal, minHSize, hStretch);
    SetWidgetLayout(vertical, minVSize, vStretch);
    return true;
}

bool PlaceReviewWidget(const FLayoutObject& horizontal, const FLayoutObject& vertical, int x, int y,
                       int width, int height, FRect& rect)
{
    width = PlacedWidgetLength(horizontal, width);
    height = PlacedWidgetLength(vertical, height);
    const FRect placed = OffsetWidgetRect(FRect(0, 0, width, height), x, y);
    if (placed == rect)
        return false;
    rect = placed;
    return true;
}
