#pragma once

#include "FWideString.h"

// True when `url` is `rootUrl` or lies below it on the disk class and neither
// the root nor any folder or entry on the way down is a symbolic link, so that
// removing it cannot reach anything outside the root. False for other classes.
bool IsLinkFreePathBelow(const FWideString& rootUrl, const FWideString& url);
