#include "EmbeddedJPEG.h"

#include "FBribImageDecoder.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FJPEGImageReader.h"

#include <new>
#include <vector>

bool DecodeEmbeddedJPEG(FBribPayload& payload, FPixmap& pixmap, int reduction, const char* cancel)
{
    // Decoded from memory: no temporary file to name, clean up or have replaced.
    const uint64_t size = payload.GetSize();
    if (size > kMaxEmbeddedJPEGBytes) {
        return false;
    }
    std::vector<uint8_t> bytes;
    try {
        bytes.resize(size_t(size));
    } catch (const std::bad_alloc&) {
        return false;
    }
    payload.Seek(0);
    payload.Read(bytes.data(), bytes.size());
    FJPEGImageReader reader(bytes.data(), bytes.size());
    reader.SetScale(reduction);
    int cols = 0, rows = 0, type = 0;
    reader.GetDimensions(cols, rows, type);
    // Embedded images serve only as previews.
    reader.SetBudget(kJPEGPreviewBudget, cancel);
    try {
        reader.ReadImage(pixmap);
    } catch (const FExceptionJPEG& e) {
        if (reader.Cancelled())
            return false;
        DebugTrace("Embedded preview not decoded: %s\n", e.GetMessage());
        throw;
    }
    return true;
}
