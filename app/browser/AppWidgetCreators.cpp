#include "AppWidgetCreators.h"

#include <array>

#include "FUiColorAdjust.h"
#include "FUiHistogram.h"
#include "FUiImageView.h"
#include "FUiIpObject.h"
#include "FUiObjectFactory.h"

namespace
{

using FRegistration = bool (*)(FIUiObjectFactory*);

bool RegisterProcessPoolIpObject(FIUiObjectFactory* factory)
{
    return RegisterIpObjectCreator(factory);
}

// The browser widgets in their fixed order: IP_OBJECT2, COLOR_ADJUST, HISTOGRAM,
// THUMBNAIL_LIST and THUMBNAIL, IMAGE_VIEW, IMAGE_FILE_LIST; the thumbnail view and the
// image file list join as they are built.
constexpr std::array<FRegistration, 4> kBrowserWidgets{
    RegisterProcessPoolIpObject,
    RegisterColorAdjustCreator,
    RegisterHistogramCreator,
    RegisterImageViewCreator,
};

} // namespace

bool RegisterAppWidgetCreators(FIUiObjectFactory* factory)
{
    bool all = true;
    for (FRegistration registration : kBrowserWidgets) {
        all = registration(factory) && all;
    }
    return all;
}
