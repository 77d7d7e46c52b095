#include "FBoxTextLayer.h"
#include "FFreeTypeTextLayer.h"
#include "FIOsTextLayer.h"

#include <memory>

namespace
{

FOsTextLayerKind g_kind = FOsTextLayerKind::kSystemFonts;

} // namespace

void SelectOsTextLayer(FOsTextLayerKind kind)
{
    g_kind = kind;
}

FIOsTextLayer& GetOsTextLayer()
{
    switch (g_kind) {
    case FOsTextLayerKind::kBoxFont: {
        static FBoxTextLayer box;
        return box;
    }
    case FOsTextLayerKind::kSystemFonts: {
        static FFreeTypeTextLayer system;
        return system;
    }
    }
    static FBoxTextLayer fallback;
    return fallback;
}
