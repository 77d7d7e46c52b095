// Image properties as a raw, TIFF or JPEG file gives them to the browser: any names and
// values through the entry's display fields, its info line and every sort key.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FImageFileListEntry.h"
#include "FPropList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Lines of "NAME=value"; bytes widen as the property reader's 8-bit text does.
    FPropList props(nullptr, "ImageProps");
    const std::string text(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        const size_t equals = line.find('=');
        if (equals != std::string::npos)
            props.AddProp(line.substr(0, equals).c_str(), line.substr(equals + 1).c_str());
        start = end + 1;
    }
    FImageFileListEntry entry;
    entry.SetURL(FWideString("disk://f/fuzz.q7f"));
    entry.BuildDisplayProps(&props);
    entry.m_nFileSize = int64_t(size) << 20;
    FWideString line;
    for (const char* separator : {" ", "  ", " | "})
        entry.GetInfoLine(line, FWideString("f/"), FWideString("s"), FWideString("Bulb"),
                          FWideString(separator));
    for (int method = 0; method <= 6; ++method)
        entry.GetSortKey(method);
    FImageFileListEntry copy(entry);
    return 0;
}
