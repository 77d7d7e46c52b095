#pragma once

#include "FWideString.h"

// A text that names one folder of the disk class for as long as it exists (its
// device, node and, where the file system keeps it, its birth time), so that a
// folder recorded once is told apart from another made later under the same
// name. Empty for anything that is not a real folder (a link, a file, another
// storage class).
FWideString GetFolderIdentity(const FWideString& url);
