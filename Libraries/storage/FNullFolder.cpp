#include "FNullFolder.h"

#include "FException.h"

FIFolder* FNullFolder::OpenSubFolder(const FWideString&, bool)
{
    return nullptr;
}

FIFile* FNullFolder::OpenFile(const FWideString&, int)
{
    return nullptr;
}

void FNullFolder::ListFiles(std::vector<FWideString>&) {}

void FNullFolder::ListFolders(std::vector<FWideString>&) {}

void FNullFolder::Rename(const FWideString&, const FWideString&)
{
    throw FExceptionFileIO("");
}

void FNullFolder::DeleteFolder(const FWideString&, int)
{
    throw FExceptionFileIO("");
}

bool FNullFolder::DeleteFile(const FWideString&)
{
    return false;
}

void FNullFolder::SetTag(int) {}
