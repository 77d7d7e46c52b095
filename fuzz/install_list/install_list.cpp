// The input is an install list. Whatever it names, every file kept must land
// inside the destination under a plain name; anything else is refused.
#include "FException.h"
#include "FMemStorageClass.h"
#include "FPropList.h"
#include "FSCDiskWin.h"
#include "FUiInstallCopyControl.h"
#include "FUiStyles.h"
#include "FXmlParser.h"
#include "InstallerPaths.h"
#include "StorageClassRegistry.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace
{

FMemStorageClass& Storage()
{
    static FMemStorageClass* storage = [] {
        FWideString path;
        if (!FindStorageClass(FWideString("disk"), path))
            RegisterDiskStorageClass();
        FMemStorageClass* made = RegisterMemStorageClass(FWideString("fuzzlist"));
        made->MakeFolder(FWideString("f"));
        return made;
    }();
    return *storage;
}

const FWideString kTarget("disk://%002F/home/fuzz/.local/share/Talvo/Rawbench/");

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Storage().PutFile(FWideString("f/InstallList.xml"),
                      std::string(reinterpret_cast<const char*>(data), size));
    FWideString fileName;
    FIFolder* folder = OpenFolderURL(FWideString("fuzzlist://f"), fileName, false);
    if (folder == nullptr)
        std::abort();
    FPropList* root = nullptr;
    try {
        FXmlParser parser;
        root = parser.ParseFile(folder, FWideString("InstallList.xml"));
    } catch (const FException&) {
        root = nullptr;
    }
    folder->Release();
    if (!root)
        return 0;

    for (const char* language : {"English", "French"}) {
        FUiInstallCopyControl copy("COPY_CONTROL");
        copy.SetSystemForTest(FWideString("Linux"), FWideString(), FWideString("disk://%002F/tmp/"));
        FWideString target = kTarget;
        FWideString lang(language);
        copy.UiRelayMessage(FWideString("TargetDirectory"), &target);
        copy.UiRelayMessage(FWideString("Language"), &lang);
        FPropList* list = root->Clone();
        copy.SetInstallList(list);
        try {
            ApplyStyles(list->GetFirstChild());
            copy.ReadFileList();
        } catch (const FException&) {
            continue;
        }
        for (const InstallFileRecord& entry : copy.GetEntries()) {
            if (!IsUrlInside(entry.m_destFolderURL, kTarget) || !IsPlainEntryName(entry.m_fileName))
                std::abort();
            if (entry.m_bDestNameGiven && !IsPlainEntryName(entry.m_destFileName))
                std::abort();
        }
    }
    DeletePropList(root);
    return 0;
}
