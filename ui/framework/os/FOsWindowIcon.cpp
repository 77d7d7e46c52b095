#include "FOsWindowIcon.h"

#include <cstddef>

namespace
{

FOsWindowIcon& Icon()
{
    static FOsWindowIcon icon;
    return icon;
}

} // namespace

bool SetOsWindowIcon(int size, std::vector<uint8_t> rgba)
{
    if (size < 0 || size > 1024 || rgba.size() != std::size_t(size) * size * 4)
        return false;
    Icon().size = size;
    Icon().rgba = std::move(rgba);
    return true;
}

const FOsWindowIcon& GetOsWindowIcon()
{
    return Icon();
}
