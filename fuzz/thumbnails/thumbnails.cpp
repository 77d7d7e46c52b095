// The input is a user-interface script whose windows hold thumbnail views (THUMBNAIL_LIST,
// THUMBNAIL) and image file list widgets. The application is built from it; every window is
// resized from nothing to huge and drawn, and every object gets the browser's messages (cells
// with thumbnails of every size, all modes, scroll positions out of range, selection commands)
// and pointer and key input; then all is torn down.
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
#include "FIPMImage.h"
#include "FIUiObject.h"
#include "FImageFileList.h"
#include "FImageFileListEntry.h"
#include "FMemStorageClass.h"
#include "FPixmap.h"
#include "FTestDisplayImage.h"
#include "FUiImageFileList.h"
#include "FUiScriptFixture.h"
#include "FUiThumbnails.h"
#include "FUiWidgets.h"
#include "StorageClassRegistry.h"

namespace
{

FMemStorageClass& Storage()
{
    static FMemStorageClass* storage = [] {
        FMemStorageClass* made = RegisterMemStorageClass(FWideString("fuzzthumbs"));
        made->MakeFolder(FWideString("f"));
        for (int size : {1, 4, 8, 30, 40})
            made->PutFile(FWideString(("f/p" + std::to_string(size) + ".png").c_str()),
                          TestPngBytes(size, size, FUiColor(90, 20, 20, 200), FUiColor(90, 20, 20, 200)));
        made->PutFile(FWideString("f/wide.png"),
                      TestPngBytes(200, 40, FUiColor(20, 90, 20, 255), FUiColor(20, 90, 20, 255)));
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

void Input(const std::vector<FIUiObject*>& objects)
{
    for (FIUiObject* object : objects) {
        const FRect r = object->GetRect();
        for (const auto& [x, y] : {std::pair{r.left + 5, r.top + 5},
                                   {r.left + r.Width() / 2, r.bottom - 3},
                                   {r.left - 10, r.top - 10}}) {
            object->HitTest(x, y);
            object->MouseEnter(x, y);
            object->MouseDown(x, y, false, false);
            object->MouseDown(x, y, false, true);
            object->MouseDown(x, y, true, false);
            object->MouseDoubleClick(x, y, false, false);
            FWideString drag;
            object->GetDragData(x, y, false, false, drag);
            object->MouseWheel(x, y, 0, -3);
        }
        for (uint16_t key : {uint16_t(13), uint16_t(145), uint16_t(146), uint16_t(19), uint16_t(0)})
            object->KeyEvent(key, false, false);
        object->Tick(10);
    }
}

void Exercise(FGenericUiWindow* window)
{
    static const int kSizes[][2] = {{0, 0}, {1, 1}, {260, 120}, {1200, 3}, {3, 900}};
    std::vector<FIUiObject*> objects;
    Collect(window->GetFirstObject(), objects);
    FImageFileList list(nullptr);
    for (int i = 0; i < 40; ++i) {
        auto* entry = new FImageFileListEntry;
        entry->SetURL(FWideString(("file:///f/" + std::to_string(i) + (i % 2 ? ".q7f" : ".jpg")).c_str()));
        entry->m_bVisible = i % 3 != 0;
        entry->m_bMarked = i % 4 == 0;
        entry->m_bLocked = i % 5 == 0;
        list.Append(entry);
    }
    for (const auto& size : kSizes) {
        int wh[2] = {size[0], size[1]};
        window->UiRelayMessage(FWideString("Resize"), wh);
        window->LayoutObjects();
        Send(objects, "NewThumbnailList", &list);
        for (const auto& [w, h] : {std::pair{0, 0}, {1, 1}, {30, 20}, {400, 2}, {size[0], size[1]}}) {
            FImageFileListEntry entry;
            entry.SetURL(FWideString(("file:///f/t" + std::to_string(w) + ".q7f").c_str()));
            entry.m_pThumbnail = new FTestDisplayImage(w, h, 77);
            entry.m_nVisibleIndex = w % 7 - 1;
            entry.m_usFileName = "a very long file name that never fits any cell.q7f";
            entry.m_usShutter = "BULB";
            entry.m_usTime = "0123456789012345678901234567890123456789";
            entry.m_nFileSize = int64_t(1) << 40;
            Send(objects, "NewThumbnail", &entry);
        }
        for (const char* mode : {"Small", "Medium", "Large", "Detailed", "none"}) {
            FWideString name(mode);
            Send(objects, "ThumbnailSize", &name);
            for (int row : {-5, 1 << 30, 3})
                Send(objects, "Scroll", &row);
            window->Redraw();
            Input(objects);
        }
        for (const char* command :
             {"SelectAll", "InvertSelection", "SelectMarked", "SelectLocked", "DeselectAll", "Filter", "Sort",
              "RefreshList", "ReviewImages", "DeletePressed"})
            Send(objects, command, nullptr);
        for (const char* text : {"ShowMarked", "Date", "True", "Delete", ""}) {
            FWideString value(text);
            for (const char* message :
                 {"Filter", "Sort", "ReverseState", "ShowBriOnly", "Reply", "SelectImage"})
                Send(objects, message, &value);
        }
        FImageFileListEntry gone;
        gone.SetURL(FWideString("file:///f/t30.q7f"));
        Send(objects, "RemoveThumbnail", &gone);
        window->Redraw();
        Send(objects, "RemoveAll", nullptr);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Storage().PutFile(FWideString("f/ui.xml"), std::string(reinterpret_cast<const char*>(data), size));
    FWideString fileName;
    FIFolder* folder = OpenFolderURL(FWideString("fuzzthumbs://f/"), fileName, false);
    if (!folder)
        return 0;
    FGenericUiApp* app = CreateGenericUiApp();
    RegisterUiWidgets(app->GetUiObjectFactory());
    RegisterThumbnailsCreators(app->GetUiObjectFactory());
    RegisterImageFileListCreator(app->GetUiObjectFactory());
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
