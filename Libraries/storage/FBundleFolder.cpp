#include "FBundleFolder.h"

#include "FBundleFile.h"
#include "FBundleFileHandle.h"
#include "FException.h"
#include "StorageClassRegistry.h"

#include <memory>

namespace
{

struct ReleaseFile {
    void operator()(FIFile* file) const { file->Release(); }
};
using FilePtr = std::unique_ptr<FBundleFile, ReleaseFile>;

} // namespace

FBundleFolder::FBundleFolder(const FWideString& containerURL) : m_containerURL(containerURL)
{
    FIFile* container = nullptr;
    try {
        container = OpenFileURL(containerURL, kFileRead);
    } catch (const FException&) {
        container = nullptr;
    }
    m_pHandle = new FBundleFileHandle(container);
}

FBundleFolder::FBundleFolder(FBundleFileHandle* handle, const FWideString& containerURL,
                             const FWideString& subPath)
    : m_pHandle(handle), m_containerURL(containerURL), m_subPath(subPath)
{
    m_pHandle->AddReference();
}

FBundleFolder::~FBundleFolder()
{
    ReleaseReference(m_pHandle);
}

FWideString FBundleFolder::priMemberName(const FWideString& name) const
{
    if (m_subPath.IsEmpty())
        return name;
    FWideString full = m_subPath;
    full += "/";
    full += name;
    return full;
}

FIFolder* FBundleFolder::OpenSubFolder(const FWideString& name, bool)
{
    if (name.IsEmpty())
        return nullptr;
    return new FBundleFolder(m_pHandle, m_containerURL, priMemberName(name));
}

FIFile* FBundleFolder::OpenFile(const FWideString& name, int)
{
    FilePtr file(new FBundleFile(m_pHandle, m_containerURL, priMemberName(name)));
    if (!file->HasMember())
        return nullptr;
    return file.release();
}

void FBundleFolder::ListFiles(std::vector<FWideString>& names)
{
    FilePtr file(new FBundleFile(m_pHandle, m_containerURL, FWideString()));
    if (m_subPath.IsEmpty()) {
        file->ListMembers(names);
        return;
    }
    std::vector<FWideString> all;
    file->ListMembers(all);
    FWideString prefix = m_subPath;
    prefix += "/";
    const int prefixLength = prefix.GetLength();
    for (const FWideString& member : all) {
        if (member.GetLength() <= prefixLength ||
            FWideString::priCompareUnits(member.GetBuffer(), prefix.GetBuffer(), prefixLength) != 0)
            continue;
        names.emplace_back(member.GetBuffer() + prefixLength);
    }
}

bool FBundleFolder::GetAttributes(int& flags)
{
    flags |= kFileAttrReadOnly;
    flags &= ~kFileAttrHidden;
    return true;
}

bool FBundleFolder::Exists(const FWideString& name, bool* isFolder)
{
    if (isFolder != nullptr)
        *isFolder = false;
    FilePtr file(new FBundleFile(m_pHandle, m_containerURL, priMemberName(name)));
    return file->HasMember();
}
