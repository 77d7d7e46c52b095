// Stand-ins until the preview and save managers exist: without a sub-manager the manager
// answers preview and save requests with its "Unable to create" errors. The file goes
// when the real factories arrive.
#include "FIPSubManagers.h"

FIPManager* CreateIPPreviewManager(FIPManager*, FIDataRetriever*, FIIPEngine2*)
{
    return nullptr;
}

FIPManager* CreateIPSaveManager(FIPManager*)
{
    return nullptr;
}
