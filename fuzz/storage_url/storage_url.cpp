// URL text functions and the disk class's URL-to-native mapping on arbitrary
// UTF-16 text: no crash, no read past the end, and escaping round-trips.
#include "FSCDiskWin.h"
#include "FWideString.h"
#include "StorageClassRegistry.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace
{

// Strings copy up to a NUL unit, so no text of this system holds one.
FWideString UnitsFrom(const uint8_t* data, size_t size)
{
    FWideString text;
    for (size_t i = 0; i + 1 < size; i += 2) {
        char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit != 0)
            text.Append(unit);
    }
    return text;
}

void Require(bool condition)
{
    if (!condition)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FWideString text = UnitsFrom(data, size);

    FWideString escaped;
    EscapeURLChars(text, escaped);
    FWideString back;
    UnescapeURLChars(escaped, back);
    Require(back == text);

    FWideString unescaped;
    UnescapeURLChars(text, unescaped);
    Require(unescaped.GetLength() <= text.GetLength());

    std::vector<FWideString> parts;
    SplitURL(text, parts);
    FWideString joined;
    if (JoinURL(parts, joined, false) && parts.size() > 1 && !parts[0].IsEmpty()) {
        std::vector<FWideString> again;
        SplitURL(joined, again);
        Require(again.size() == parts.size());
    }

    FWideString extension;
    GetFileExtension(text, extension);
    FWideString stripped = text;
    RemoveFileExtension(stripped);
    Require(stripped.GetLength() + extension.GetLength() == text.GetLength());

    FSCDiskWin disk(u"disk");
    FWideString native;
    disk.ToNativePath(text, native);
    return 0;
}
