#include "FSCEnumFolder.h"

#include "FException.h"
#include "StorageClassRegistry.h"

FIFolder* FSCEnumFolder::OpenSubFolder(const FWideString& name, bool create)
{
    FWideString ignored;
    return OpenFolderURL(name, ignored, create);
}

FIFile* FSCEnumFolder::OpenFile(const FWideString&, int)
{
    return nullptr;
}

void FSCEnumFolder::ListFiles(std::vector<FWideString>&) {}

void FSCEnumFolder::ListFolders(std::vector<FWideString>& names)
{
    for (const FStorageClassEntry& entry : GetStorageClassEntries())
        names.push_back(entry.m_name);
}

void FSCEnumFolder::Rename(const FWideString&, const FWideString&)
{
    throw FException("Cannot rename storage classes");
}

bool FSCEnumFolder::DeleteFile(const FWideString&)
{
    return false;
}

void FSCEnumFolder::DeleteFolder(const FWideString&, int)
{
    throw FException("Cannot delete storage classes");
}

FWideString FSCEnumFolder::GetURL()
{
    return FWideString();
}

FWideString FSCEnumFolder::GetNote()
{
    return FWideString();
}

bool FSCEnumFolder::GetAttributes(int& flags)
{
    flags = (flags | kFileAttrReadOnly) & ~kFileAttrHidden;
    return true;
}

bool FSCEnumFolder::Exists(const FWideString&, bool*)
{
    return false;
}
