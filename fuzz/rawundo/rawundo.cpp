// Rolls back arbitrary undo records of a raw file's header: whatever the record
// holds, only header bytes may change, the file's length never does, and the
// record is gone afterwards unless rolling back failed.

#include "FBribImageWriter.h"
#include "FCodePage.h"
#include "RawTestFolder.h"
#include "StorageClassRegistry.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{

constexpr size_t kHeader = 232;

rawtest::Bytes RawFile()
{
    rawtest::Bytes file(kHeader + 100, 0x5A);
    const uint8_t head[8] = {'B', 'R', 'I', 'b', 2, 0, 2, 0};
    std::memcpy(file.data(), head, sizeof head);
    for (size_t i = 0; i < 16; ++i)
        file[8 + i] = uint8_t(0x30 + i);
    return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const rawtest::Bytes original = RawFile();
    // The record under this build's name, then under the older "<name>.undo".
    for (const bool older : {false, true}) {
        const FWideString url = rawtest::PutMemoryFile("undo/f.q7f", original);
        const FWideString undo = older ? BribLegacyUndoURL(url) : BribUndoURL(url);
        const std::string undoText = Utf8FromWide(undo);
        const std::string undoName = undoText.substr(undoText.rfind('/') + 1);
        rawtest::PutMemoryFile("undo/" + undoName, rawtest::Bytes(data, data + size));
        const bool recovered = RecoverBribHeaderUpdate(url);

        FIFile* file = OpenFileURL(url, kFileRead);
        if (!file)
            abort();
        rawtest::Bytes now(file->GetSize());
        file->Read(now.data(), int(now.size()));
        file->Release();
        if (now.size() != original.size() ||
            std::memcmp(now.data() + kHeader, original.data() + kHeader, 100) != 0)
            abort();
        bool isFolder = false;
        if (recovered &&
            (ExistsURL(BribUndoURL(url), isFolder) || ExistsURL(BribLegacyUndoURL(url), isFolder)))
            abort();
    }
    return 0;
}
