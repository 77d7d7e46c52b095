#include "InstallerRecord.h"

#include <algorithm>
#include <random>

#include "FCodePage.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FFolderIdentity.h"
#include "FIStorageClass.h"
#include "FLinkFreePath.h"
#include "FPropList.h"
#include "FSha256.h"
#include "InstallerPaths.h"
#include "StorageClassRegistry.h"

namespace
{

constexpr const char* kStampHeading = "Rawbench installation ";

std::string StampBytes(const FWideString& installId)
{
    return kStampHeading + Utf8FromWide(installId) + "\n";
}

std::string ReadSmallFile(const FWideString& url, size_t limit)
{
    FIFile* file = nullptr;
    try {
        file = OpenFileURL(url, kFileRead);
    } catch (const FException&) {
        return std::string();
    }
    if (!file)
        return std::string();
    std::string bytes;
    try {
        if (file->GetSize() <= limit) {
            bytes.resize(static_cast<size_t>(file->GetSize()));
            if (!bytes.empty())
                file->Read(bytes.data(), static_cast<int>(bytes.size()));
        }
    } catch (const FException&) {
        bytes.clear();
    }
    file->Release();
    return bytes;
}

size_t Depth(const FWideString& url)
{
    return UrlParts(url).size();
}

bool IsEmptyFolder(FIFolder* folder)
{
    std::vector<FWideString> names;
    folder->ListFiles(names);
    folder->ListFolders(names);
    return names.empty();
}

// A folder the installation may have made: inside its destination, or the destination
// and the folders above it, or a folder on the way to one of the places it writes to.
bool MayHaveMade(const FWideString& url, const FWideString& trustedRoot)
{
    if (UrlParts(url).size() < 3)
        return false;
    if (!trustedRoot.IsEmpty()) {
        if (IsUrlInside(url, trustedRoot))
            return IsLinkFreePathBelow(trustedRoot, url);
        if (IsUrlInside(trustedRoot, url))
            return true;
    }
    const std::vector<FWideString> places = InstallPlaces();
    return std::any_of(places.begin(), places.end(),
                       [&](const FWideString& place) { return IsUrlInside(place, url); });
}

} // namespace

bool WriteWholeFile(FIFolder* folder, const FWideString& name, const std::string& bytes, bool executable)
{
    FWideString tempName;
    FIFile* temp = folder->CreateTempFile(FWideString(".rbentry-"), tempName);
    if (!temp)
        return false;
    try {
        temp->Write(bytes.data(), static_cast<int>(bytes.size()));
        if (executable) {
            FFileInfo info;
            temp->GetInfo(info);
            info.m_iFlags |= kFileAttrExecutable;
            temp->SetAttributes(info);
        }
        temp->Release();
        temp = nullptr;
        folder->ReplaceFile(tempName, name);
        return true;
    } catch (const FException&) {
        if (temp)
            temp->Release();
        folder->DeleteFile(tempName);
        return false;
    }
}

bool DigestFileAt(const FWideString& url, uint64_t& size, std::string& sha)
{
    FIFile* file = nullptr;
    try {
        file = OpenFileURL(url, kFileRead);
    } catch (const FException&) {
        return false;
    }
    if (!file)
        return false;
    FSha256 digest;
    size = 0;
    bool ok = true;
    try {
        std::vector<unsigned char> buffer(1 << 16);
        for (;;) {
            const int n = file->ReadSome(buffer.data(), static_cast<int>(buffer.size()));
            if (n <= 0)
                break;
            digest.Add(buffer.data(), static_cast<size_t>(n));
            size += static_cast<uint64_t>(n);
        }
    } catch (const FException&) {
        ok = false;
    }
    file->Release();
    sha = digest.FinishHex();
    return ok;
}

void AddDigest(FPropList* node, uint64_t size, const std::string& sha)
{
    node->SetString(FWideString("Size"), FWideString(std::to_string(size).c_str()));
    node->SetString(FWideString("Sha256"), FWideString(sha.c_str()));
}

bool AddDigestOfFile(FPropList* node, const FWideString& url)
{
    uint64_t size = 0;
    std::string sha;
    if (!DigestFileAt(url, size, sha))
        return false;
    AddDigest(node, size, sha);
    return true;
}

bool MatchesRecordedDigest(const FPropList* node, const FWideString& url)
{
    bool hasSize = false, hasSha = false;
    const FWideString size = node->GetString(FWideString("Size"), FWideString(), &hasSize);
    const FWideString sha = node->GetString(FWideString("Sha256"), FWideString(), &hasSha);
    if (!hasSize || !hasSha)
        return false;
    uint64_t actualSize = 0;
    std::string actualSha;
    if (!DigestFileAt(url, actualSize, actualSha))
        return false;
    return Utf8FromWide(size) == std::to_string(actualSize) && Utf8FromWide(sha) == actualSha;
}

bool AddFolderIdentity(FPropList* node, const FWideString& url)
{
    const FWideString identity = GetFolderIdentity(url);
    if (identity.IsEmpty())
        return false;
    node->SetString(FWideString("Identity"), identity);
    return true;
}

bool MatchesRecordedIdentity(const FPropList* node, const FWideString& url)
{
    bool found = false;
    const FWideString recorded = node->GetString(FWideString("Identity"), FWideString(), &found);
    return found && !recorded.IsEmpty() && recorded == GetFolderIdentity(url);
}

FWideString NewInstallId()
{
    std::random_device device;
    static const char kHex[] = "0123456789abcdef";
    std::string id;
    for (int i = 0; i < 4; ++i) {
        const uint32_t word = device();
        for (int shift = 28; shift >= 0; shift -= 4)
            id += kHex[(word >> shift) & 15];
    }
    return FWideString(id.c_str());
}

bool WriteInstallStamp(const FWideString& rootUrl, const FWideString& installId)
{
    FIFolder* folder = OpenExistingFolder(rootUrl);
    if (!folder)
        return false;
    const bool written = WriteWholeFile(folder, FWideString(kInstallStampName), StampBytes(installId), false);
    folder->Release();
    return written;
}

FWideString TrustedInstallRoot(const FPropList* record)
{
    const FPropList* installRoot = record ? record->FindChild("INSTALL_ROOT") : nullptr;
    if (!installRoot)
        return FWideString();
    const FWideString root = FolderKey(installRoot->GetString(FWideString("FolderName"), FWideString()));
    const FWideString id = installRoot->GetString(FWideString("InstallId"), FWideString());
    if (root.IsEmpty() || id.GetLength() < 16 || IsProtectedFolderUrl(root) ||
        !IsLinkFreePathBelow(root, root))
        return FWideString();
    const FWideString stamp = ChildUrl(root, FWideString(kInstallStampName));
    if (!IsLinkFreePathBelow(root, stamp) || ReadSmallFile(stamp, 256) != StampBytes(id)) {
        DebugTrace("The record's destination %s holds no stamp of this installation\n", root.GetNarrow());
        return FWideString();
    }
    return root;
}

void RemoveInstallStamp(const FWideString& rootUrl)
{
    if (rootUrl.IsEmpty())
        return;
    if (FIFolder* folder = OpenExistingFolder(rootUrl)) {
        folder->DeleteFile(FWideString(kInstallStampName));
        folder->Release();
    }
}

std::vector<FWideString> InstallPlaces()
{
    std::vector<FWideString> places = {AppDataFolderUrl(), MakerFolderUrl()};
    for (int kind : {kSpecialPathPrograms, kSpecialPathStartup, kSpecialPathDesktop})
        places.push_back(SpecialFolderUrl(kind));
    places.erase(
        std::remove_if(places.begin(), places.end(), [](const FWideString& url) { return url.IsEmpty(); }),
        places.end());
    return places;
}

std::vector<FWideString> MissingFoldersOnTheWay(const std::vector<FWideString>& places)
{
    std::vector<FWideString> missing;
    for (const FWideString& place : places) {
        const FUrlParts parts = UrlParts(place);
        if (parts.size() < 3)
            continue;
        FUrlParts prefix(parts.begin(), parts.begin() + 2);
        for (size_t i = 2; i < parts.size(); ++i) {
            prefix.push_back(parts[i]);
            const FWideString url = JoinParts(prefix, true);
            if (std::find(missing.begin(), missing.end(), url) != missing.end())
                continue;
            bool isFolder = false, exists = false;
            try {
                exists = ExistsURL(url, isFolder);
            } catch (const FException&) {
                exists = true;
            }
            if (!exists)
                missing.push_back(url);
        }
    }
    return missing;
}

void RemoveRecordedFolders(const FPropList* record, const FWideString& trustedRoot)
{
    std::vector<const FPropList*> folders;
    for (const FPropList* list = record->GetFirstChild(); list; list = list->GetNext()) {
        if (!(list->GetName() == "UNINSTALL_FOLDERS"))
            continue;
        for (const FPropList* folder = list->GetFirstChild(); folder; folder = folder->GetNext())
            folders.push_back(folder);
    }
    auto urlOf = [](const FPropList* node) {
        return FolderKey(node->GetString(FWideString("FolderName"), FWideString("URL to folder")));
    };
    std::stable_sort(folders.begin(), folders.end(), [&](const FPropList* a, const FPropList* b) {
        return Depth(urlOf(a)) > Depth(urlOf(b));
    });
    for (const FPropList* node : folders) {
        const FWideString url = urlOf(node);
        if (url.IsEmpty() || !MayHaveMade(url, trustedRoot) || !MatchesRecordedIdentity(node, url)) {
            DebugTrace("Not removing the folder %s\n", url.GetNarrow());
            continue;
        }
        FIFolder* folder = OpenExistingFolder(url);
        if (!folder)
            continue;
        // Not recursive: a folder that holds anything, the user's or ours, stays.
        if (IsEmptyFolder(folder)) {
            try {
                folder->DeleteFolder(url, 0);
            } catch (const FException& e) {
                DebugTrace("The folder %s stays: %s\n", url.GetNarrow(), e.GetMessage());
            }
        }
        folder->Release();
    }
}

void RemoveRecordedFiles(const FPropList* record, const FWideString& trustedRoot)
{
    const FWideString appData = AppDataFolderUrl();
    const FWideString stateFile = ChildUrl(appData, FWideString(kStateFileName));
    for (const FPropList* list = record->GetFirstChild(); list; list = list->GetNext()) {
        if (!(list->GetName() == "UNINSTALL_FILES"))
            continue;
        for (const FPropList* node = list->GetFirstChild(); node; node = node->GetNext()) {
            const FWideString url = node->GetString(FWideString("FileName"), FWideString("URL to file"));
            // The installer never records a whole folder for removal; a record that does was edited.
            const bool allowed =
                !node->GetBool(FWideString("Folder"), false) &&
                ((!trustedRoot.IsEmpty() && IsUrlInside(url, trustedRoot) &&
                  IsLinkFreePathBelow(trustedRoot, url) && !(FolderKey(url) == trustedRoot)) ||
                 (url == stateFile && IsLinkFreePathBelow(appData, url)));
            if (!allowed || !MatchesRecordedDigest(node, url)) {
                DebugTrace("Not removing %s\n", url.GetNarrow());
                continue;
            }
            FUrlParts parts = UrlParts(url);
            FWideString name;
            UnescapeURLChars(parts.back(), name);
            parts.pop_back();
            if (FIFolder* folder = OpenExistingFolder(JoinParts(parts, true))) {
                folder->DeleteFile(name);
                folder->Release();
            }
        }
    }
}
