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
