// The input is a saved-settings file. The manager loads it (or sets it aside), saves a
// setting of its own, and that setting must be there after the reload.
#include "FMemStorageClass.h"
#include "FUiSettings.h"
#include "StorageClassRegistry.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace
{

class FNamer : public FUiObject
{
public:
    FNamer() : FUiObject("NAMER") {}
    bool UiRelayMessage(const FWideString&, void* data) override
    {
        *static_cast<FWideString*>(data) = FWideString(u"fuzz \"<&>\"");
        return true;
    }
};

FMemStorageClass& Storage()
{
    static FMemStorageClass* storage = [] {
        FMemStorageClass* made = RegisterMemStorageClass(FWideString("fuzzset"));
        made->MakeFolder(FWideString("f"));
        return made;
    }();
    return *storage;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Storage().PutFile(FWideString("f/settings.xml"), std::string(reinterpret_cast<const char*>(data), size));
    FNamer namer;
    FUiSettings settings("SETTINGS_MGR");
    settings.SetFolderURL(FWideString("fuzzset://f"));
    settings.SetLegacyFolderURL(FWideString("fuzzset://f"));
    settings.FindEvent(FWideString("ON_GET_SETTING_NAME"))->AddTarget(FWideString("Name"), &namer);
    settings.UiRelayMessage(FWideString("Post Creation Initialization"), nullptr);
    if (settings.GetEntries().empty())
        std::abort();
    settings.UiRelayMessage(FWideString("SaveSettings"), nullptr);
    bool found = false;
    for (const FUiSettingEntry& entry : settings.GetEntries())
        found = found || entry.m_usName == FWideString(u"fuzz \"<&>\"");
    if (!found)
        std::abort();
    // Leave no aside copies behind for the next input.
    std::vector<FWideString> names;
    FWideString ignored;
    if (FIFolder* folder = OpenFolderURL(FWideString("fuzzset://f"), ignored, false)) {
        folder->ListFiles(names);
        for (const FWideString& name : names)
            folder->DeleteFile(name);
        folder->Release();
    }
    return 0;
}
