#include "AppWidgetCreators.h"

#include <array>

#include "FUiColorAdjust.h"
#include "FUiHistogram.h"
#include "FUiImageFileList.h"
#include "FUiImageView.h"
#include "FUiIpObject.h"
#include "FUiObjectFactory.h"
#include "FUiThumbnails.h"

namespace
{

using FRegistration = bool (*)(FIUiObjectFactory*);

bool RegisterProcessPoolIpObject(FIUiObjectFactory* factory)
{
    return RegisterIpObjectCreator(factory);
}

// The browser widgets in their fixed order: IP_OBJECT2, COLOR_ADJUST, HISTOGRAM,
// THUMBNAIL_LIST and THUMBNAIL, IMAGE_VIEW, IMAGE_FILE_LIST.
constexpr std::array<FRegistration, 6> kBrowserWidgets{
    RegisterProcessPoolIpObject, RegisterColorAdjustCreator, RegisterHistogramCreator,
    RegisterThumbnailsCreators,  RegisterImageViewCreator,   RegisterImageFileListCreator,
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
