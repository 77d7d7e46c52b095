// The bytes a second start sends to the running instance, split at a point the
// input chooses: every path handed on is bounded, free of the ending unit, and
// nothing is handed on once the stream was refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FOsSingleInstance.h"

namespace
{

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t split = data[0] % (size + 1);
    ++data;
    --size;
    FOsHandOverStream stream;
    bool refused = false;
    int opened = 0;
    stream.receiver.onOpenPath = [&](const FWideString& path) {
        Check(!refused);
        Check(path.GetLength() > 0 && path.GetLength() <= kMaxHandOverUnits);
        for (int i = 0; i < path.GetLength(); ++i)
            Check(path.GetBuffer()[i] != 0);
        ++opened;
    };
    stream.receiver.onShow = [&] { Check(!refused); };
    const size_t first = split < size ? split : size;
    refused = !stream.Feed(data, first);
    if (!refused)
        refused = !stream.Feed(data + first, size - first);
    else
        Check(!stream.Feed(data + first, size - first) || size == first);
    Check(opened <= static_cast<int>(size / 4));
    return 0;
}
