#pragma once

#include "FWideString.h"

// Asked before an image changes (rotated, moved away): a handler refuses by clearing
// m_bAllowed. Built on the stack for one firing, allowed at first.
struct ImageChangeQuery {
    FWideString m_usURL;
    bool m_bAllowed = true;
};
