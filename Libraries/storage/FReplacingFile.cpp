#include "FReplacingFile.h"

#include "FException.h"
#include "FIStorageClass.h"
#include "FNarrowString.h"
#include "StorageClassRegistry.h"

#include <cstring>
#include <vector>

// Hidden, and not named like the file it will become, so that nothing that
// lists the folder takes a half-written file for an image.
bool IsReplacingTempName(const char* name)
{
    const size_t prefix = std::strlen(kReplacingTempPrefix);
    if (!name || std::strncmp(name, kReplacingTempPrefix, prefix) != 0)
        return false;
    const char* middle = name + prefix;
    size_t length = 0;
    while ((middle[length] >= 'a' && middle[length] <= 'z') ||
           (middle[length] >= '0' && middle[length] <= '9'))
        ++length;
    return length >= 1 && length <= 32 && std::strcmp(middle + length, ".tmp") == 0;
}

namespace
{

// The folder holding the file a URL names, and the file's name in it; null when there is none.
FIFolder* OpenParentFolder(const FWideString& url, FWideString& name)
{
    FWideString path;
    FIStorageClass* storageClass = FindStorageClass(url, path);
    std::vector<FWideString> pieces;
    SplitString(path, pieces, u"/");
    if (!storageClass || pieces.empty())
        return nullptr;
    UnescapeURLChars(pieces.back(), name);
    pieces.pop_back();
    FWideString folderPath;
    JoinStrings(pieces, folderPath, u"/");
    if (name.IsEmpty())
        return nullptr;
    FWideString fileName;
    FIFolder* folder = nullptr;
    try {
        folder = storageClass->OpenFolder(folderPath, fileName, false);
    } catch (const FException&) {
        return nullptr;
    }
    // A folder path that names a file opens its parent: no folder to save in.
    if (folder && !fileName.IsEmpty()) {
        folder->Release();
        return nullptr;
    }
    return folder;
}

} // namespace

FReplacingFile::FReplacingFile(const FWideString& url)
{
    m_pFolder = OpenParentFolder(url, m_name);
    if (!m_pFolder)
        throw FExceptionFileOpen(url.GetNarrow());
    m_bOwnsFolder = true;
    try {
        priOpen(url);
    } catch (...) {
        m_pFolder->Release();
        throw;
    }
}

FReplacingFile::FReplacingFile(FIFolder* folder, const FWideString& name) : m_pFolder(folder), m_name(name)
{
    if (!m_pFolder || m_name.IsEmpty())
        throw FExceptionFileOpen(name.GetNarrow());
    try {
        priOpen(name);
    } catch (...) {
        if (m_bOwnsFolder)
            m_pFolder->Release();
        throw;
    }
}

void FReplacingFile::priOpen(const FWideString& shownName)
{
    // Saving over a symbolic link writes the file it leads to and keeps the link.
    FWideString targetURL;
    if (m_pFolder->ResolveLink(m_name, targetURL)) {
        FWideString targetName;
        FIFolder* targetFolder = OpenParentFolder(targetURL, targetName);
        if (!targetFolder)
            throw FExceptionFileOpen(shownName.GetNarrow());
        if (m_bOwnsFolder)
            m_pFolder->Release();
        m_pFolder = targetFolder;
        m_bOwnsFolder = true;
        m_name = targetName;
    }
    bool isFolder = false;
    if (m_pFolder->Exists(m_name, &isFolder)) {
        // Saving must not get round a protection that writing in place would meet.
        FIFile* existing = isFolder ? nullptr : m_pFolder->OpenFile(m_name, kFileRead);
        FFileInfo info;
        if (existing) {
            existing->GetInfo(info);
            existing->Release();
        }
        if (!existing || (info.m_iFlags & kFileAttrReadOnly))
            throw FExceptionFileOpen(shownName.GetNarrow());
    }
    m_pFile = m_pFolder->CreateTempFile(FWideString(kReplacingTempPrefix), m_tempName);
    if (!m_pFile)
        throw FExceptionFileOpen(shownName.GetNarrow());
}

FReplacingFile::~FReplacingFile()
{
    if (!m_bCommitted)
        priDiscard();
    if (m_bOwnsFolder)
        m_pFolder->Release();
}

void FReplacingFile::priDiscard() noexcept
{
    try {
        if (m_pFile)
            m_pFile->Release();
    } catch (...) {
    }
    m_pFile = nullptr;
    try {
        if (!m_tempName.IsEmpty())
            m_pFolder->DeleteFile(m_tempName);
    } catch (...) {
    }
    m_tempName.Clear();
}

void FReplacingFile::Commit(bool durable)
{
    if (!m_pFile)
        throw FExceptionFileWrite(FNarrowString("'%s': already finished", m_name.GetNarrow()).GetCString());
    try {
        if (durable)
            m_pFile->Flush();
        // Put in place while still open: the open file is what tells a save in progress
        // from a leftover that may be removed. Renaming never replaces, so a file that
        // appears meanwhile is not overwritten unseen.
        bool placed = false;
        if (!durable && !m_pFolder->Exists(m_name, nullptr)) {
            m_pFolder->Rename(m_tempName, m_name);
            placed = !m_pFolder->Exists(m_tempName, nullptr);
        }
        if (!placed)
            m_pFolder->ReplaceFile(m_tempName, m_name);
        FIFile* file = m_pFile;
        m_pFile = nullptr;
        file->Release();
    } catch (const FExceptionFileWrite&) {
        priDiscard();
        throw;
    } catch (const FException& e) {
        priDiscard();
        throw FExceptionFileWrite(e.GetMessage());
    }
    m_tempName.Clear();
    m_bCommitted = true;
}
