#include "FIpCopyTarget.h"

#include <vector>

#include "FException.h"
#include "FIStorageClass.h"
#include "FNarrowString.h"
#include "StorageClassRegistry.h"

namespace
{

// Hidden, and not named like an image, so that no listing takes a partial copy for one.
constexpr const char* kTempPrefix = ".rbcopy-";

} // namespace

FIpCopyTarget::FIpCopyTarget(const FWideString& url)
{
    std::vector<FWideString> parts;
    SplitURL(url, parts);
    if (parts.size() < 2)
        throw FExceptionFileOpen(url.GetNarrow());
    UnescapeURLChars(parts.back(), m_name);
    parts.pop_back();
    FWideString folderURL;
    JoinURL(parts, folderURL, true);
    FWideString fileInTheWay;
    if (!m_name.IsEmpty())
        m_pFolder = OpenFolderURL(folderURL, fileInTheWay, false);
    if (!m_pFolder)
        throw FExceptionFileOpen(url.GetNarrow());
    try {
        // A folder path that names a file opens its parent: there is no folder to copy into.
        if (!fileInTheWay.IsEmpty())
            throw FExceptionFileOpen(url.GetNarrow());
        bool isFolder = false;
        if (m_pFolder->Exists(m_name, &isFolder)) {
            // Replacing must not get round a protection that writing in place would meet.
            FIFile* existing = isFolder ? nullptr : m_pFolder->OpenFile(m_name, kFileRead);
            FFileInfo info;
            if (existing) {
                existing->GetInfo(info);
                existing->Release();
            }
            if (!existing || (info.m_iFlags & kFileAttrReadOnly))
                throw FExceptionFileOpen(url.GetNarrow());
        }
        m_pFile = m_pFolder->CreateTempFile(FWideString(kTempPrefix), m_tempName);
        if (!m_pFile)
            throw FExceptionFileOpen(url.GetNarrow());
    } catch (...) {
        m_pFolder->Release();
        throw;
    }
}

FIpCopyTarget::~FIpCopyTarget()
{
    priDiscard();
    m_pFolder->Release();
}

void FIpCopyTarget::priDiscard() noexcept
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

void FIpCopyTarget::Commit(bool durable)
{
    if (!m_pFile)
        throw FExceptionFileWrite(FNarrowString("'%s': already finished", m_name.GetNarrow()).GetCString());
    try {
        if (durable)
            m_pFile->Flush();
        FIFile* file = m_pFile;
        m_pFile = nullptr;
        file->Release();
        // Renaming never replaces, so a file that appears meanwhile is not overwritten unseen.
        if (!durable && !m_pFolder->Exists(m_name, nullptr)) {
            m_pFolder->Rename(m_tempName, m_name);
            if (!m_pFolder->Exists(m_tempName, nullptr)) {
                m_tempName.Clear();
                return;
            }
        }
        m_pFolder->ReplaceFile(m_tempName, m_name);
    } catch (const FExceptionFileWrite&) {
        priDiscard();
        throw;
    } catch (const FException& e) {
        priDiscard();
        throw FExceptionFileWrite(e.GetMessage());
    }
    m_tempName.Clear();
}
