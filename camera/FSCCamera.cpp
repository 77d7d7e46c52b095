#include "FSCCamera.h"

#include "CamFileApi.h"
#include "CamSupport.h"
#include "FByteOrder.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "StorageClassRegistry.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace
{

std::string Narrow(const FWideString& text)
{
    return Utf8FromWide(text);
}

// The camera file API's answer to "is this a folder": any path of an available camera.
bool CamFileIsFolder(const std::string& camera, bool& isFolder)
{
    if (camera.empty())
        return false;
    isFolder = CamIsAvailable(camera.c_str());
    return isFolder;
}

// Camera name and camera path of a URL path: the first part, and the others behind a leading "/".
void SplitCameraPath(const FWideString& path, std::string& camera, FWideString& cameraPath)
{
    std::vector<FWideString> parts = NonEmptyPathParts(path);
    camera.clear();
    cameraPath.Clear();
    if (parts.empty())
        return;
    FWideString name;
    UnescapeURLChars(parts[0], name);
    camera = Narrow(name);
    for (size_t i = 1; i < parts.size(); ++i) {
        FWideString part;
        UnescapeURLChars(parts[i], part);
        cameraPath += u"/";
        cameraPath += part;
    }
}

// A name the camera listed that is safe to hand on as one entry of this folder.
bool SafeEntryName(const std::string& name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\')
            return false;
    }
    return true;
}

class CameraLock
{
public:
    explicit CameraLock(FSCCamera* owner) : m_pOwner(owner), m_bLocked(owner && owner->Lock()) {}
    ~CameraLock()
    {
        if (m_bLocked)
            m_pOwner->Unlock();
    }
    CameraLock(const CameraLock&) = delete;
    CameraLock& operator=(const CameraLock&) = delete;
    bool IsLocked() const { return m_bLocked; }

private:
    FSCCamera* m_pOwner;
    bool m_bLocked;
};

} // namespace

FSCCamera::FSCCamera(const FWideString& name, const char* mutexName, const std::string& standInFolder)
    : m_name(name)
{
    try {
        m_pMutex = std::make_unique<FMutex>(mutexName);
    } catch (const FExceptionSyncObject&) {
        // Without the system-wide lock, threads of this process are still kept apart.
        DebugTrace("FSCCamera::FSCCamera: no system-wide camera mutex; using a private one.\n");
        m_pMutex = std::make_unique<FMutex>();
    }
    if (!CamFirstConnected().IsEmpty())
        return;
    std::string folder = standInFolder;
    if (folder.empty()) {
        std::error_code error;
        folder = (std::filesystem::current_path(error) / "MyCamera").string();
        if (error)
            return;
    }
    FWideString url;
    if (!NativePathToURL(WideFromUtf8(folder), url))
        return;
    FWideString fileName;
    FIFolder* standIn = OpenFolderURL(url, fileName, false);
    if (!standIn)
        return;
    const bool isFolder = fileName.IsEmpty();
    standIn->Release();
    if (!isFolder)
        return;
    m_bRedirect = true;
    m_redirectURL = url;
}

FSCCamera::~FSCCamera() = default;

bool FSCCamera::Lock()
{
    return m_pMutex && m_pMutex->Lock(m_iLockTimeoutMs);
}

void FSCCamera::Unlock()
{
    if (m_pMutex)
        m_pMutex->Unlock();
}

FIFile* FSCCamera::OpenFile(const FWideString& path, int mode)
{
    std::vector<FWideString> parts;
    SplitString(path, parts, u"/");
    if (parts.empty())
        return nullptr;
    FWideString escapedName = parts.back();
    parts.pop_back();
    FWideString name;
    UnescapeURLChars(escapedName, name);
    if (name.IsEmpty())
        return nullptr;
    FWideString folderPath;
    JoinStrings(parts, folderPath, u"/");
    FWideString unused;
    FIFolder* folder =
        m_bRedirect ? OpenFolderURL(folderPath, unused, false) : OpenFolder(folderPath, unused, false);
    if (!folder)
        return nullptr;
    FIFile* file = nullptr;
    try {
        file = folder->OpenFile(name, mode);
    } catch (...) {
        folder->Release();
        throw;
    }
    folder->Release();
    return file;
}

FIFolder* FSCCamera::OpenFolder(const FWideString& path, FWideString& fileName, bool)
{
    fileName.Clear();
    if (path.IsEmpty())
        return new FSCVolEnumCameraFolder(this, m_bRedirect ? m_redirectURL : FWideString("camera"));
    if (m_bRedirect) {
        FWideString unused;
        return OpenFolderURL(path, unused, false);
    }
    std::string camera;
    FWideString cameraPath;
    SplitCameraPath(path, camera, cameraPath);
    bool isFolder = false;
    if (!CamFileIsFolder(camera, isFolder))
        return nullptr;
    return new FSCCameraFolder(this, camera, cameraPath);
}

bool FSCCamera::GetSpecialPath(int, FWideString&)
{
    return false;
}

bool FSCCamera::ToNativePath(const FWideString& path, FWideString& native)
{
    if (path.IsEmpty())
        return false;
    native.Clear();
    for (const FWideString& part : NonEmptyPathParts(path)) {
        FWideString unescaped;
        UnescapeURLChars(part, unescaped);
        native += u"/";
        native += unescaped;
    }
    return true;
}

bool FSCCamera::FromNativePath(const FWideString& native, FWideString& path)
{
    FWideString full = native;
    if (native.GetLength() < 2 || native.GetBuffer()[1] != u':') {
        std::error_code error;
        full = WideFromUtf8(std::filesystem::current_path(error).string());
        full += u"/";
        full += native;
    }
    std::vector<FWideString> parts = NonEmptyPathParts(full);
    if (!parts.empty()) {
        FWideString first = parts[0];
        FWideString left;
        FWideString right;
        if (first.Split(u":", left, right)) {
            parts[0] = left;
            if (!right.IsEmpty())
                parts.insert(parts.begin() + 1, right);
        }
    }
    for (FWideString& part : parts) {
        FWideString escaped;
        EscapeURLChars(part, escaped);
        part = escaped;
    }
    JoinStrings(parts, path, u"/");
    return true;
}

const char16_t* FSCCamera::GetDescription()
{
    return u"cameras attached to the system";
}

void FSCCamera::Launch(const FWideString&, const char16_t*)
{
    throw FExceptionFileNotFound("FSCCamera::Launch: Not implemented.");
}

bool FSCCamera::Exists(const FWideString& path, bool& isFolder)
{
    isFolder = false;
    if (m_bRedirect)
        return ExistsURL(path, isFolder);
    std::string camera;
    FWideString cameraPath;
    SplitCameraPath(path, camera, cameraPath);
    if (camera.empty())
        return false;
    if (cameraPath.IsEmpty())
        return CamFileIsFolder(camera, isFolder);
    const std::string native = Narrow(cameraPath);
    const size_t slash = native.rfind('/');
    const FWideString name = WideFromUtf8(native.substr(slash + 1));
    FWideString asFolder = u"/";
    asFolder += name;
    // The camera is asked about the entry itself: listing a card of many thousand images for
    // each of them would make reading the card quadratic. Folders come from a recent listing.
    bool readable = false;
    if (CamFileIsReadable(camera.c_str(), native.c_str(), readable)) {
        if (readable)
            return true;
        const std::vector<FWideString> folders = priFolderNames(camera, native.substr(0, slash));
        isFolder = std::find(folders.begin(), folders.end(), asFolder) != folders.end();
        return isFolder;
    }
    // An entry exists when its folder's listing names it; the listing says whether it is a folder.
    FSCCameraFolder parent(this, camera, WideFromUtf8(native.substr(0, slash)));
    std::vector<FWideString> names;
    parent.ListFolders(names);
    if (std::find(names.begin(), names.end(), asFolder) != names.end()) {
        isFolder = true;
        return true;
    }
    names.clear();
    parent.ListFiles(names);
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::vector<FWideString> FSCCamera::priFolderNames(const std::string& camera, const std::string& parent)
{
    const std::string key = camera + "\n" + parent;
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard guard(m_folderNamesLock);
        auto it = m_folderNames.find(key);
        if (it != m_folderNames.end() && now - it->second.time < kFolderNamesMaxAge)
            return it->second.names;
    }
    FSCCameraFolder folder(this, camera, WideFromUtf8(parent));
    std::vector<FWideString> names;
    folder.ListFolders(names);
    std::lock_guard guard(m_folderNamesLock);
    if (m_folderNames.size() >= kFolderNamesKept)
        m_folderNames.clear();
    m_folderNames[key] = FolderNames{names, now};
    return names;
}

void FSCCamera::MoveToTrash(const FWideString& path)
{
    FWideString url = m_name;
    url += u"://";
    url += path;
    FWideString name;
    FIFolder* folder = OpenFolderURL(url, name, false);
    if (!folder)
        throw FExceptionFileNotFound("FSCCamera::MoveToTrash: no such camera folder.");
    bool deleted = false;
    try {
        deleted = folder->DeleteFile(name);
    } catch (...) {
        folder->Release();
        throw;
    }
    folder->Release();
    if (!deleted)
        throw FExceptionFileIO("FSCCamera::MoveToTrash: the camera did not delete the file.");
}

FSCVolEnumCameraFolder::FSCVolEnumCameraFolder(FSCCamera* owner, const FWideString& name)
    : m_pOwner(owner), m_name(name)
{
}

void FSCVolEnumCameraFolder::ListFolders(std::vector<FWideString>& names)
{
    uint32_t length = 0;
    if (CamListCameras(nullptr, length) <= 0) {
        if (!(m_name == "camera"))
            names.push_back(m_name);
        return;
    }
    // One camera only is offered, however many answer.
    FWideString first = CamFirstConnected();
    if (!first.IsEmpty())
        names.push_back(first);
}

FIFolder* FSCVolEnumCameraFolder::OpenSubFolder(const FWideString& name, bool)
{
    std::vector<FWideString> names;
    ListFolders(names);
    if (std::find(names.begin(), names.end(), name) == names.end())
        return nullptr;
    if (m_pOwner->IsRedirected()) {
        FWideString unused;
        return OpenFolderURL(m_pOwner->GetRedirectURL(), unused, false);
    }
    return new FSCCameraFolder(m_pOwner, Narrow(name), FWideString());
}

bool FSCVolEnumCameraFolder::GetAttributes(int& flags)
{
    flags = (flags | kFileAttrReadOnly) & ~kFileAttrHidden;
    return true;
}

FSCCameraFolder::FSCCameraFolder(FSCCamera* owner, const std::string& camera, const FWideString& path)
    : m_pOwner(owner), m_camera(camera), m_path(path)
{
}

std::string FSCCameraFolder::priChildPath(const FWideString& name) const
{
    std::string child = Narrow(name);
    std::string path = Narrow(m_path);
    // Names from ListFolders begin with "/".
    if (child.empty() || child[0] != '/')
        path += "/";
    return path + child;
}

FIFolder* FSCCameraFolder::OpenSubFolder(const FWideString& name, bool)
{
    bool isFolder = false;
    if (!CamFileIsFolder(m_camera, isFolder))
        return nullptr;
    return new FSCCameraFolder(m_pOwner, m_camera, WideFromUtf8(priChildPath(name)));
}

FIFile* FSCCameraFolder::OpenFile(const FWideString& name, int mode)
{
    if (name.IsEmpty())
        return nullptr;
    bool isFolder = false;
    if (!CamFileIsFolder(m_camera, isFolder) && !(mode & kFileWrite))
        return nullptr;
    const std::string path = Narrow(m_path) + "/" + Narrow(name);
    // A file to read must answer now: one that a silent camera cannot describe would read
    // as empty, and a copy of it would replace a good file with nothing.
    if (!(mode & kFileWrite)) {
        CameraLock lock(m_pOwner);
        if (!lock.IsLocked() || !CamFileStat(m_camera.c_str(), path.c_str(), nullptr, nullptr, nullptr))
            return nullptr;
    }
    return new FSCCameraFile(m_pOwner, m_camera, path, mode);
}

void FSCCameraFolder::priList(std::vector<FWideString>& names, bool folders)
{
    const std::string folder = Narrow(m_path);
    const std::string pattern = folder + (!folder.empty() && folder.back() == '/' ? "*" : "/*");
    std::string text;
    // A listing is read on until a short piece, so that no entry is lost to a buffer's size.
    // Each read makes the camera list the folder again up to its offset, so the first read
    // asks for the size the camera reports, and any further pieces double: a long listing
    // costs a few reads, not one per fixed-size piece.
    size_t first = kCameraListingPiece - 1;
    uint32_t reported = 0;
    if (CamFileStat(m_camera.c_str(), pattern.c_str(), &reported, nullptr, nullptr))
        first = std::clamp<size_t>(size_t{reported} + 1, first, kCameraListingCap + 1);
    for (size_t piece = first;; piece = std::min(piece * 2, kCameraListingCap + 1)) {
        const size_t offset = text.size();
        text.resize(offset + piece);
        const uint32_t got = CamFileRead(m_camera.c_str(), pattern.c_str(), static_cast<uint32_t>(offset),
                                         text.data() + offset, static_cast<uint32_t>(piece));
        text.resize(offset + std::min<size_t>(got, piece));
        if (text.size() > kCameraListingCap) {
            DebugTrace("FSCCameraFolder::List: the listing of %s is too large.\n", folder.c_str());
            return;
        }
        if (got < piece)
            break;
    }
    ParseCameraListing(text, folder, folders, names);
}

void ParseCameraListing(const std::string& text, const std::string& folder, bool folders,
                        std::vector<FWideString>& names)
{
    const std::string prefix = folder + (!folder.empty() && folder.back() == '/' ? "" : "/");
    size_t start = 0;
    // A last line without its "\n" was cut and is left out.
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = text.substr(start, end - start);
        const size_t tab = line.find('\t');
        if (tab == std::string::npos)
            continue;
        const std::string entry = line.substr(0, tab);
        const bool isFolder = line.find('D', tab) != std::string::npos;
        if (isFolder != folders)
            continue;
        // Entries outside this folder, or with names that could reach elsewhere, are refused.
        if (entry.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string name = entry.substr(prefix.size());
        if (!SafeEntryName(name))
            continue;
        names.push_back(WideFromUtf8(folders ? "/" + name : name));
    }
}

void FSCCameraFolder::ListFiles(std::vector<FWideString>& names)
{
    priList(names, false);
}

void FSCCameraFolder::ListFolders(std::vector<FWideString>& names)
{
    priList(names, true);
}

bool FSCCameraFolder::DeleteFile(const FWideString& name)
{
    const std::string path = name.IsEmpty() ? Narrow(m_path) : Narrow(m_path) + "/" + Narrow(name);
    bool deleted = CamFileDelete(m_camera.c_str(), path.c_str());
    for (int retry = 0; !deleted && retry < kCameraDeleteRetries; ++retry) {
        DebugTrace(">***** CAM DEL FAILED...RETRYING IN 0.1s *****<\n");
        CamSleep(kCameraDeleteRetrySleepMs);
        deleted = CamFileDelete(m_camera.c_str(), path.c_str());
    }
    if (!deleted)
        DebugTrace(">******** !!! CAM DEL FAILED !!! ********<\n");
    return deleted;
}

FWideString FSCCameraFolder::GetURL()
{
    FWideString url = u"camera://";
    url += WideFromUtf8(m_camera);
    url += m_path;
    return url;
}

int64_t FSCCameraFolder::GetFreeSpace()
{
    uint8_t words[8];
    uint32_t got = 0;
    {
        CameraLock lock(m_pOwner);
        if (!lock.IsLocked())
            return -1;
        got = CamFileRead(m_camera.c_str(), "/dev/CF", 0, words, sizeof words);
    }
    if (got < sizeof words)
        return -1;
    return static_cast<int64_t>(LoadLE32(words + 4)) * 1024;
}

bool FSCCameraFolder::IsReadOnly()
{
    uint32_t attributes = 0;
    return CamFileStat(m_camera.c_str(), Narrow(m_path).c_str(), nullptr, nullptr, &attributes) &&
           (attributes & 1);
}

bool FSCCameraFolder::GetAttributes(int& flags)
{
    flags &= ~kFileAttrHidden;
    uint32_t attributes = 0;
    if (!CamFileStat(m_camera.c_str(), Narrow(m_path).c_str(), nullptr, nullptr, &attributes))
        return false;
    flags = (attributes & 1) ? (flags | kFileAttrReadOnly) : (flags & ~kFileAttrReadOnly);
    return true;
}

FSCCameraFile::FSCCameraFile(FSCCamera* owner, const std::string& camera, const std::string& path, int mode)
    : m_pOwner(owner), m_camera(camera), m_path(path), m_iMode(mode)
{
}

void FSCCameraFile::Seek(uint64_t position)
{
    // Kept even beyond the end: reads there deliver nothing rather than the file's start.
    m_iPosition = position;
}

int FSCCameraFile::ReadSome(void* buffer, int n)
{
    if (!buffer || n <= 0)
        return 0;
    if (!m_pBuffer) {
        m_pBuffer = std::make_unique<uint8_t[]>(kCameraReadAheadBytes);
        m_iBufferLength = 0;
    }
    auto* out = static_cast<uint8_t*>(buffer);
    int delivered = 0;
    const auto inBuffer = [&] {
        return m_iBufferStart >= 0 && static_cast<int64_t>(m_iPosition) >= m_iBufferStart &&
               static_cast<int64_t>(m_iPosition) < m_iBufferStart + m_iBufferLength;
    };
    if (inBuffer()) {
        const int from = static_cast<int>(m_iPosition - m_iBufferStart);
        const int count = std::min(n, m_iBufferLength - from);
        std::memcpy(out, m_pBuffer.get() + from, count);
        m_iPosition += count;
        delivered += count;
        n -= count;
        if (n == 0)
            return delivered;
    }
    if (m_iPosition > UINT32_MAX)
        return delivered;
    CameraLock lock(m_pOwner);
    if (!lock.IsLocked())
        return delivered;
    const uint32_t position = static_cast<uint32_t>(m_iPosition);
    if (n > kCameraReadAheadBytes) {
        const uint32_t got = CamFileRead(m_camera.c_str(), m_path.c_str(), position, out + delivered, n);
        m_iPosition += got;
        return delivered + static_cast<int>(got);
    }
    const uint32_t got =
        CamFileRead(m_camera.c_str(), m_path.c_str(), position, m_pBuffer.get(), kCameraReadAheadBytes);
    m_iBufferStart = position;
    m_iBufferLength = static_cast<int>(got);
    const int count = std::min(n, m_iBufferLength);
    std::memcpy(out + delivered, m_pBuffer.get(), count);
    m_iPosition += count;
    return delivered + count;
}

int FSCCameraFile::Read(void* buffer, int n)
{
    int calls = 0;
    int count = 0;
    const double giveUp = CamClockSeconds() + kCameraStallSeconds;
    while (calls < kCameraReadAttempts && (calls == 0 || CamClockSeconds() < giveUp)) {
        ++calls;
        count = ReadSome(buffer, n);
        if (count > 0)
            break;
    }
    if (count == n) {
        if (calls > 1)
            DebugTrace("FSCCameraFile::Read %d retries before success reading %d bytes.\n", calls - 1, count);
        return count;
    }
    DebugTrace("FSCCameraFile::Read failed after %d retries, reading only %d bytes of %d.\n",
               count > 0 ? calls - 1 : calls, count, n);
    throw FExceptionEOF();
}

void FSCCameraFile::Write(const void* data, int n)
{
    if (n <= 0)
        return;
    if (m_iPosition > UINT32_MAX)
        throw FExceptionFileWrite("FSCCameraFile::Write: position beyond what a camera file can hold.");
    bool written = false;
    {
        CameraLock lock(m_pOwner);
        if (lock.IsLocked())
            written =
                CamFileWrite(m_camera.c_str(), m_path.c_str(), static_cast<uint32_t>(m_iPosition), data, n);
    }
    // What was read ahead may now be stale.
    m_iBufferStart = -1;
    m_iBufferLength = 0;
    if (!written)
        throw FExceptionFileWrite("FSCCameraFile::Write: the camera did not take the data.");
    m_iPosition += n;
}

uint64_t FSCCameraFile::GetSize()
{
    CameraLock lock(m_pOwner);
    uint32_t size = 0;
    if (!lock.IsLocked() || !CamFileStat(m_camera.c_str(), m_path.c_str(), &size, nullptr, nullptr))
        return 0;
    return size;
}

void FSCCameraFile::GetInfo(FFileInfo& info)
{
    CameraLock lock(m_pOwner);
    uint32_t time = 0;
    uint32_t attributes = 0;
    if (!lock.IsLocked() || !CamFileStat(m_camera.c_str(), m_path.c_str(), nullptr, &time, &attributes))
        return;
    info.m_iFlags = (info.m_iFlags & ~(kFileAttrReadOnly | kFileAttrHidden)) |
                    ((attributes & 1) ? kFileAttrReadOnly : 0) | ((attributes & 2) ? 0 : kFileAttrHidden);
    info.m_iModified = info.m_iCreated = info.m_iAccessed = time;
}

void FSCCameraFile::SetAttributes(const FFileInfo& info)
{
    CameraLock lock(m_pOwner);
    uint32_t attributes = 0;
    if (!lock.IsLocked() || !CamFileStat(m_camera.c_str(), m_path.c_str(), nullptr, nullptr, &attributes))
        return;
    attributes = (attributes & ~3u) | ((info.m_iFlags & kFileAttrReadOnly) ? 1u : 0u) |
                 ((info.m_iFlags & kFileAttrHidden) ? 0u : 2u);
    CamFileSetAttributes(m_camera.c_str(), m_path.c_str(), attributes);
}

bool FSCCameraFile::QueryCopySize(uint64_t& size)
{
    // A busy or unreachable camera must fail the copy, not make it an empty one.
    CameraLock lock(m_pOwner);
    uint32_t bytes = 0;
    if (!lock.IsLocked() || !CamFileStat(m_camera.c_str(), m_path.c_str(), &bytes, nullptr, nullptr))
        return false;
    size = bytes;
    return true;
}

int FSCCameraFile::CopyChunk(int n)
{
    if (!m_pDestFile)
        throw FException("Destination file not opened!");
    n = std::clamp(n, 0, m_iChunkSize);
    int got = 0;
    const double giveUp = CamClockSeconds() + kCameraStallSeconds;
    for (int attempt = 0; attempt < kCameraReadAttempts && got == 0 && n > 0 && m_iPosition < m_iCopySize &&
                          (attempt == 0 || CamClockSeconds() < giveUp);
         ++attempt)
        got = ReadSome(m_pChunkBuffer.get(), n);
    if (got == 0 && n > 0 && m_iPosition < m_iCopySize) {
        AbandonCopy();
        DebugTrace("FSCCameraFile::CopyChunk: %s stopped at %llu of %llu bytes.\n", m_path.c_str(),
                   static_cast<unsigned long long>(m_iPosition),
                   static_cast<unsigned long long>(m_iCopySize));
        throw FExceptionFileRead(
            "The camera stopped answering during the copy; the partial file was removed.");
    }
    try {
        if (got > 0) {
            m_pDestFile->Write(m_pChunkBuffer.get(), got);
            m_iCopied += static_cast<uint64_t>(got);
        }
    } catch (...) {
        AbandonCopy();
        throw;
    }
    return got;
}

void RegisterCameraStorageClass()
{
    RegisterStorageClass(u"camera", new FSCCamera(u"camera"));
}
