// The input is a container file: every member is listed, looked up and read
// to its end. Damaged archives must end in a clean failure.
#include "FBundleFolder.h"
#include "FException.h"
#include "FMemStorageClass.h"
#include "StorageClassRegistry.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace
{

FMemStorageClass& Storage()
{
    static FMemStorageClass* storage = RegisterMemStorageClass(FWideString("fuzzbundle"));
    return *storage;
}

void ReadMember(FIFolder& folder, const FWideString& name)
{
    FIFile* file = folder.OpenFile(name, kFileRead);
    if (file == nullptr)
        return;
    char buffer[4096];
    while (file->ReadSome(buffer, sizeof buffer) > 0) {
    }
    file->Seek(0);
    FWideString line;
    for (int i = 0; i < 4 && file->ReadLine(line); ++i) {
    }
    file->Release();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Storage().PutFile(FWideString("container"), std::string(reinterpret_cast<const char*>(data), size));
    FIFolder* folder = new FBundleFolder(FWideString("fuzzbundle://container"));
    try {
        std::vector<FWideString> names;
        folder->ListFiles(names);
        for (const FWideString& name : names)
            ReadMember(*folder, name);
        folder->Exists(FWideString("ui.xml"), nullptr);
        FIFolder* sub = folder->OpenSubFolder(FWideString("skins"), false);
        names.clear();
        sub->ListFiles(names);
        sub->Release();
    } catch (const FException&) {
        // A header cut by the end of the file ends here.
    }
    folder->Release();
    return 0;
}
