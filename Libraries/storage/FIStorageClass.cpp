#include "FIStorageClass.h"

#include "FException.h"
#include "FNarrowString.h"

FIFile* FIFolder::CreateTempFile(const FWideString&, FWideString& name)
{
    name.Clear();
    return nullptr;
}

void FIFolder::ReplaceFile(const FWideString&, const FWideString& to)
{
    throw FExceptionFileWrite(
        FNarrowString("'%s': this folder cannot replace files", to.GetNarrow()).GetCString());
}

bool FIFolder::ResolveLink(const FWideString&, FWideString& targetURL)
{
    targetURL.Clear();
    return false;
}
