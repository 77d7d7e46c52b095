#include "AppWidgetCreators.h"

#include <array>

#include "FUiObjectFactory.h"

namespace
{

using FRegistration = bool (*)(FIUiObjectFactory*);

// The browser widgets join this list as they are built, in this order:
// IP_OBJECT2, COLOR_ADJUST, HISTOGRAM, THUMBNAIL_LIST and THUMBNAIL,
// IMAGE_VIEW, IMAGE_FILE_LIST.
constexpr std::array<FRegistration, 0> kBrowserWidgets{};

} // namespace

bool RegisterAppWidgetCreators(FIUiObjectFactory* factory)
{
    bool all = true;
    for (FRegistration registration : kBrowserWidgets) {
        all = registration(factory) && all;
    }
    return all;
}
