// The input is a user-interface script whose windows hold the review window's display
// widgets (IMAGE_VIEW, HISTOGRAM, COLOR_ADJUST). The application is built from it;
// every window is resized from tiny to huge and drawn, and every widget gets the
// messages the window managers send (images of every size, histograms with and without
// pixels, levels and gains out of range) and pointer input; then all is torn down.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "FException.h"
#include "FGenericUiApp.h"
#include "FGenericUiWindow.h"
#include "FIPMImage.h"
#include "FIUiObject.h"
#include "FMemStorageClass.h"
#include "FPixmap.h"
#include "FReviewDisplayWidgets.h"
#include "FTestDisplayImage.h"
#include "FUiImageView.h"
#include "FUiScriptFixture.h"
#include "FUiWidgets.h"
#include "StorageClassRegistry.h"

namespace
{

FMemStorageClass& Storage()
{
    static FMemStorageClass* storage = [] {
        FMemStorageClass* made = RegisterMemStorageClass(FWideString("fuzzreview"));
        made->MakeFolder(FWideString("f"));
        made->PutFile(FWideString("f/icon16.png"),
                      TestPngBytes(16, 16, FUiColor(0, 0, 0, 255), FUiColor(0, 0, 0, 255)));
        made->PutFile(FWideString("f/icon7.png"),
                      TestPngBytes(7, 3, FUiColor(255, 255, 255, 128), FUiColor(255, 255, 255, 128)));
        return made;
    }();
    return *storage;
}

void Collect(FIUiObject* first, std::vector<FIUiObject*>& all)
{
    for (FIUiObject* object = first; object; object = object->GetNext()) {
        all.push_back(object);
        Collect(object->GetFirstChild(), all);
    }
}

void Send(const std::vector<FIUiObject*>& objects, const char* message, void* data)
{
    for (FIUiObject* object : objects)
        object->UiRelayMessage(FWideString(message), data);
}

void Pointer(const std::vector<FIUiObject*>& objects)
{
    for (FIUiObject* object : objects) {
        const FRect r = object->GetRect();
        const int x = r.left + r.Width() / 2;
        const int y = r.top + r.Height() / 2;
        object->HitTest(x, y);
        object->MouseEnter(x, y);
        object->MouseDown(x, y, false, false);
        object->MouseMove(x + 1000, y + 1000);
        object->MouseMove(r.left - 5, r.top - 5);
        object->MouseMove(x, y);
        object->Tick(10);
        object->MouseMove(x - 100000, y - 100000);
        object->MouseUp(x, y, false, false);
        object->MouseLeave(x, y);
    }
}

void Exercise(FGenericUiWindow* window)
{
    static const int kSizes[][2] = {{0, 0}, {1, 1}, {37, 23}, {320, 200}, {3000, 3}, {3, 3000}};
    std::vector<FIUiObject*> objects;
    Collect(window->GetFirstObject(), objects);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const auto& size : kSizes) {
        int wh[2] = {size[0], size[1]};
        window->UiRelayMessage(FWideString("Resize"), wh);
        window->LayoutObjects();
        window->Redraw();
        bool on = true;
        Send(objects, "SetEnabled", &on);
        Send(objects, "EnableGrayBalance", &on);
        Send(objects, "EnableWarnings", &on);
        for (int level : {-100000, 0, 10, 255, 256, 100000}) {
            Send(objects, "SetShadowWarning", &level);
            Send(objects, "SetHighlightWarning", &level);
        }
        for (double x : {nan, -1.0, 0.5, 2.0})
            Send(objects, "CropTransparency", &x);
        for (const auto& image :
             {std::pair<int, int>{0, 0}, {1, 1}, {size[0], size[1]}, {size[0] + 1, 2}, {30, 20}}) {
            auto* made = new FTestDisplayImage(image.first, image.second, uint8_t(image.first * 7));
            Send(objects, "NewImage", made);
            FLoupeImageMessage loupe{made, -50, 9};
            Send(objects, "NewLoupeImage", &loupe);
            made->Release();
            Pointer(objects);
            window->Redraw();
        }
        FIHistogram empty;
        Send(objects, "Display", &empty);
        std::vector<uint8_t> pixels(size_t(17) * 5 * 4, 200);
        FPixmap_Display pixmap(pixels.data(), 17, 5, 17 * 4);
        FIHistogram counts;
        counts.Compute(pixmap);
        Send(objects, "Display", &counts);
        for (const char* step :
             {"IncShadowWarning", "DecShadowWarning", "IncHighlightWarning", "DecHighlightWarning"})
            Send(objects, step, nullptr);
        for (const auto& gains : {std::vector<double>{1, 0.03, 0.03}, std::vector<double>{nan, 1, 1},
                                  std::vector<double>{0, 0, 0}, std::vector<double>{1e300, 1, 1e-300}}) {
            std::vector<double> g = gains;
            Send(objects, "UpdateColorAdjust", g.data());
            Send(objects, "SetGrayBalance", g.data());
        }
        window->Redraw();
        Send(objects, "Clear", nullptr);
        Send(objects, "LoupeOffImage", nullptr);
        Send(objects, "Reset", nullptr);
        Send(objects, "Display", nullptr);
        Send(objects, "NewImage", nullptr);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Storage().PutFile(FWideString("f/ui.xml"), std::string(reinterpret_cast<const char*>(data), size));
    FWideString fileName;
    FIFolder* folder = OpenFolderURL(FWideString("fuzzreview://f/"), fileName, false);
    if (!folder)
        return 0;
    FGenericUiApp* app = CreateGenericUiApp();
    RegisterUiWidgets(app->GetUiObjectFactory());
    RegisterReviewDisplayCreators(app->GetUiObjectFactory());
    try {
        bool another = false;
        if (app->InitFromScript(folder, FWideString("ui.xml"), another)) {
            for (FIUiWindow* window = app->GetFirstWindow(); window; window = window->GetNextWindow()) {
                if (auto* generic = dynamic_cast<FGenericUiWindow*>(window))
                    Exercise(generic);
            }
            app->Tick(10);
        }
    } catch (const FException&) {
        // Script errors end the start; they must not leak or crash.
    }
    DeleteGenericUiApp(app);
    return 0;
}
