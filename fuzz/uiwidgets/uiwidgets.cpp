// The input is a user-interface script whose windows hold the library's
// widgets. The application is built from it; every window is resized to
// sizes from tiny to huge, drawn, hit-tested, and every widget gets the
// messages and pointer input scripts can send it; then all is torn down.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "FException.h"
#include "FGenericUiApp.h"
#include "FGenericUiWindow.h"
#include "FIUiObject.h"
#include "FIUiPixmap.h"
#include "FMemStorageClass.h"
#include "FUiScriptFixture.h"
#include "FUiWidgets.h"
#include "StorageClassRegistry.h"

namespace
{

FMemStorageClass& Storage()
{
    static FMemStorageClass* storage = [] {
        FMemStorageClass* made = RegisterMemStorageClass(FWideString("fuzzwidgets"));
        made->MakeFolder(FWideString("f"));
        made->PutFile(FWideString("f/img.png"),
                      TestPngBytes(40, 20, FUiColor(0, 0, 255, 129), FUiColor(0, 0, 255, 128)));
        made->PutFile(FWideString("f/skin.png"),
                      TestPngBytes(30, 30, FUiColor(40, 80, 120, 255), FUiColor(255, 0, 0, 255)));
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

void Exercise(FGenericUiWindow* window)
{
    static const int kSizes[][2] = {{0, 0}, {1, 1}, {37, 23}, {320, 200}, {8192, 3}, {3, 8192}};
    for (const auto& size : kSizes) {
        int wh[2] = {size[0], size[1]};
        window->UiRelayMessage(FWideString("Resize"), wh);
        window->LayoutObjects();
        window->Redraw();
    }
    std::vector<FIUiObject*> objects;
    Collect(window->GetFirstObject(), objects);
    FIUiPixmap* picture = CreateUiPixmap(7, 5, false);
    if (picture)
        picture->FillRGBA(1, 2, 3, 200);
    bool no = false, yes = true;
    FWideString colour("#12AB34"), language("German");
    struct Message {
        const char* name;
        void* data;
    };
    const Message kMessages[] = {
        {"Hide", nullptr},
        {"HideChildren", nullptr},
        {"ToggleChildren", nullptr},
        {"Visibility", &no},
        {"SetEnabled", &no},
        {"SetColor", &colour},
        {"SetImage", picture},
        {"Ping", &yes},
        {"Set Language", &language},
        {"ShowChildren", nullptr},
        {"Visibility", &yes},
        {"Show", nullptr},
        {"ToggleVisibility", nullptr},
        {"Redraw", nullptr},
        {"Visibility", nullptr},
    };
    for (const Message& message : kMessages) {
        for (FIUiObject* object : objects)
            object->UiRelayMessage(FWideString(message.name), message.data);
    }
    ReleaseUiPixmap(picture);
    window->ReInitLayout(0, 0);
    for (FIUiObject* object : objects) {
        const FRect r = object->GetRect();
        const int x = r.left + r.Width() / 2;
        const int y = r.top + r.Height() / 2;
        object->HitTest(x, y);
        object->MouseEnter(x, y);
        if (object->MouseDown(x, y, false, false)) {
            object->MouseMove(x + 1000, y + 1000);
            object->MouseMove(x - 100000, y - 100000);
            object->MouseUp(x, y, false, false);
        }
        object->MouseLeave(x, y);
    }
    window->Redraw();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Storage().PutFile(FWideString("f/ui.xml"), std::string(reinterpret_cast<const char*>(data), size));
    FWideString fileName;
    FIFolder* folder = OpenFolderURL(FWideString("fuzzwidgets://f/"), fileName, false);
    if (!folder)
        return 0;
    FGenericUiApp* app = CreateGenericUiApp();
    RegisterUiWidgets(app->GetUiObjectFactory());
    try {
        bool another = false;
        if (app->InitFromScript(folder, FWideString("ui.xml"), another)) {
            for (FIUiWindow* window = app->GetFirstWindow(); window; window = window->GetNextWindow()) {
                if (auto* generic = dynamic_cast<FGenericUiWindow*>(window))
                    Exercise(generic);
            }
            app->SetLanguage(FWideString("English"));
            app->Tick(10);
        }
    } catch (const FException&) {
        // Script errors end the start; they must not leak or crash.
    }
    DeleteGenericUiApp(app);
    return 0;
}
