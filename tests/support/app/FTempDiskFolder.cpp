#include "FTempDiskFolder.h"

#include <sys/stat.h>

#include "FCodePage.h"
#include "FException.h"
#include "FIStorageClass.h"
#include "FSCDiskWin.h"
#include "StorageClassRegistry.h"

FTempDiskFolder::FTempDiskFolder()
{
    FWideString path;
    if (!FindStorageClass(FWideString("disk"), path))
        RegisterDiskStorageClass();
}

FTempDiskFolder::~FTempDiskFolder() = default;

FWideString FTempDiskFolder::GetUrl() const
{
    FWideString url;
    NativePathToURL(WideFromUtf8(GetPath() + "/"), url);
    return url;
}

FWideString FTempDiskFolder::GetUrl(const std::string& relative) const
{
    FWideString url;
    NativePathToURL(WideFromUtf8(m_temp.Join(relative)), url);
    return url;
}

bool FTempDiskFolder::WriteFile(const std::string& relative, const std::string& bytes) const
{
    return m_temp.WriteFile(relative, bytes);
}

bool FTempDiskFolder::ReadFile(const std::string& relative, std::string& bytes) const
{
    return m_temp.ReadFile(relative, bytes);
}

bool FTempDiskFolder::MakeFolder(const std::string& relative) const
{
    return mkdir(m_temp.Join(relative).c_str(), 0700) == 0;
}

bool FTempDiskFolder::Exists(const std::string& relative) const
{
    bool isFolder = false;
    try {
        return ExistsURL(GetUrl(relative), isFolder);
    } catch (const FException&) {
        return false;
    }
}

FIFolder* FTempDiskFolder::OpenFolder() const
{
    FWideString fileName;
    try {
        return OpenFolderURL(GetUrl(), fileName, false);
    } catch (const FException&) {
        return nullptr;
    }
}
