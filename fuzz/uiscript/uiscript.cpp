// The input is a user-interface script. The application is built from it,
// driven through its commands and languages, and torn down.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FException.h"
#include "FGenericUiApp.h"
#include "FMemStorageClass.h"
#include "FProbeObject.h"
#include "StorageClassRegistry.h"

namespace
{

FMemStorageClass& Storage()
{
    static FMemStorageClass* storage = [] {
        FMemStorageClass* made = RegisterMemStorageClass(FWideString("fuzzui"));
        made->MakeFolder(FWideString("f"));
        return made;
    }();
    return *storage;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Storage().PutFile(FWideString("f/ui.xml"), std::string(reinterpret_cast<const char*>(data), size));
    FWideString fileName;
    FIFolder* folder = OpenFolderURL(FWideString("fuzzui://f/"), fileName, false);
    if (!folder)
        return 0;
    FGenericUiApp* app = CreateGenericUiApp();
    RegisterProbe(app->GetUiObjectFactory());
    try {
        bool another = false;
        if (app->InitFromScript(folder, FWideString("ui.xml"), another)) {
            app->UiRelayMessage(FWideString("ShowMainWindow"), nullptr);
            FWideString language("German");
            app->UiRelayMessage(FWideString("SetLanguage"), &language);
            app->NextLanguage();
            FWideString dialog("Dialog");
            app->UiRelayMessage(FWideString("ShowTopOrCreateWindow"), &dialog);
            app->GetUiRelay(FWideString("Dialog.All"));
            app->Tick(10);
        }
    } catch (const FException&) {
        // Script errors end the start; they must not leak or crash.
    }
    DeleteGenericUiApp(app);
    return 0;
}
