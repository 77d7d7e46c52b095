#pragma once

// The "camera" storage class: camera URLs ("camera://" camera name, then the
// camera's path) turned into calls of the camera file API, with a read-ahead
// buffer, retries, and a system-wide mutex around file transfers. When no
// camera answers at creation and a folder "MyCamera" exists in the working
// folder, every camera URL goes to that folder instead.

#include "FCopyableFile.h"
#include "FIStorageClass.h"
#include "FMutex.h"
#include "FNullFolder.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

inline constexpr const char* kCameraMutexName = "QuillCameraMutex";
constexpr int kCameraLockTimeoutMs = 5000;
// How long a listing of a folder's subfolders answers existence questions: only the camera
// itself makes folders, and a card being read is asked about every image.
constexpr std::chrono::seconds kFolderNamesMaxAge{2};
constexpr size_t kFolderNamesKept = 16;
constexpr int kCameraReadAheadBytes = 65536;
constexpr int kCameraReadAttempts = 50;
// Reads are tried again only while a camera has answered within this long: one that
// stays busy fails the read or copy in seconds rather than after every attempt.
constexpr double kCameraStallSeconds = 5.0;
constexpr int kCameraDeleteRetries = 10;
constexpr int kCameraDeleteRetrySleepMs = 100;
// Listings are read a piece at a time; one larger than this is refused as a whole.
constexpr int kCameraListingPiece = 128000;
constexpr size_t kCameraListingCap = 64u << 20;

class FSCCamera : public FIStorageClass
{
public:
    // The mutex name and the folder that stands in for a missing camera are for tests to choose.
    explicit FSCCamera(const FWideString& name, const char* mutexName = kCameraMutexName,
                       const std::string& standInFolder = std::string());
    ~FSCCamera() override;

    FIFile* OpenFile(const FWideString& path, int mode) override;
    FIFolder* OpenFolder(const FWideString& path, FWideString& fileName, bool create) override;
    bool GetSpecialPath(int kind, FWideString& url) override;
    bool ToNativePath(const FWideString& path, FWideString& native) override;
    bool FromNativePath(const FWideString& native, FWideString& path) override;
    const char16_t* GetName() override { return m_name.GetBuffer(); }
    const char16_t* GetDescription() override;
    void Launch(const FWideString& path, const char16_t* parameters) override;
    bool Exists(const FWideString& path, bool& isFolder) override;
    void MoveToTrash(const FWideString& path) override;

    bool Lock();
    void Unlock();
    void SetLockTimeout(int milliseconds) { m_iLockTimeoutMs = milliseconds; }
    bool IsRedirected() const { return m_bRedirect; }
    const FWideString& GetRedirectURL() const { return m_redirectURL; }

private:
    // The parent's folder names, from a listing at most kFolderNamesSeconds old.
    std::vector<FWideString> priFolderNames(const std::string& camera, const std::string& parent);

    bool m_bRedirect = false;
    std::unique_ptr<FMutex> m_pMutex;
    struct FolderNames {
        std::vector<FWideString> names;
        std::chrono::steady_clock::time_point time;
    };
    std::mutex m_folderNamesLock;
    // By camera and parent folder; a handful at most, since the status polls ask about
    // another folder than the card's images.
    std::map<std::string, FolderNames> m_folderNames;
    FWideString m_name;
    FWideString m_redirectURL;
    int m_iLockTimeoutMs = kCameraLockTimeoutMs;
};

// The top folder: the one camera offered.
class FSCVolEnumCameraFolder : public FNullFolder
{
public:
    FSCVolEnumCameraFolder(FSCCamera* owner, const FWideString& name);
    FIFolder* OpenSubFolder(const FWideString& name, bool create) override;
    void ListFolders(std::vector<FWideString>& names) override;
    FWideString GetURL() override { return m_name; }
    FWideString GetNote() override { return FWideString(); }
    int64_t GetFreeSpace() override { return -1; }
    bool IsReadOnly() override { return true; }
    bool GetAttributes(int& flags) override;
    int GetDriveType() override { return kDriveUnknown; }
    bool Exists(const FWideString&, bool*) override { return false; }

private:
    FSCCamera* m_pOwner;
    FWideString m_name;
};

// A folder on a camera: the camera's name and a camera path ("/cf/images"; empty for its top).
class FSCCameraFolder : public FIFolder
{
public:
    FSCCameraFolder(FSCCamera* owner, const std::string& camera, const FWideString& path);

    FIFolder* OpenSubFolder(const FWideString& name, bool create) override;
    FIFile* OpenFile(const FWideString& name, int mode) override;
    void ListFiles(std::vector<FWideString>& names) override;
    void ListFolders(std::vector<FWideString>& names) override;
    void Rename(const FWideString&, const FWideString&) override {}
    bool DeleteFile(const FWideString& name) override;
    void DeleteFolder(const FWideString&, int) override {}
    FWideString GetURL() override;
    FWideString GetNote() override { return FWideString(); }
    void SetTag(int tag) override { m_iTag = tag; }
    int64_t GetFreeSpace() override;
    bool IsReadOnly() override;
    bool GetAttributes(int& flags) override;
    int GetDriveType() override { return kDriveRemote; }
    bool Exists(const FWideString&, bool*) override { return false; }

private:
    // Entries of the listing: the names of files, or of folders as "/" and the name.
    void priList(std::vector<FWideString>& names, bool folders);
    std::string priChildPath(const FWideString& name) const;

    FSCCamera* m_pOwner;
    int m_iTag = 0;
    std::string m_camera;
    FWideString m_path;
};

class FSCCameraFile : public FCopyableFile
{
public:
    FSCCameraFile(FSCCamera* owner, const std::string& camera, const std::string& path, int mode);

    void Seek(uint64_t position) override;
    uint64_t Tell() override { return m_iPosition; }
    bool ReadLine(FWideString&) override { return false; }
    int Read(void* buffer, int n) override;
    int ReadSome(void* buffer, int n) override;
    void Write(const void* data, int n) override;
    void Flush() override {}
    void SetSize(uint64_t) override {}
    uint64_t GetSize() override;
    FWideString GetURL() override { return FWideString(); }
    void GetInfo(FFileInfo& info) override;
    void SetAttributes(const FFileInfo& info) override;

    // A camera that stops answering before the end is an error, and the partial copy is removed.
    int CopyChunk(int n) override;

protected:
    bool QueryCopySize(uint64_t& size) override;

private:
    FSCCamera* m_pOwner;
    std::string m_camera;
    std::string m_path;
    uint64_t m_iPosition = 0;
    int m_iMode = 0;
    std::unique_ptr<uint8_t[]> m_pBuffer;
    int64_t m_iBufferStart = -1;
    int m_iBufferLength = 0;
};

// Entries of a camera's folder listing (lines of path, tab, size, tab, time, tab, flags):
// file names, or folders as "/" and the name. Lines outside the folder, cut lines and
// names that could reach outside it are left out.
void ParseCameraListing(const std::string& text, const std::string& folder, bool folders,
                        std::vector<FWideString>& names);

// Creates the class "camera" and registers it.
void RegisterCameraStorageClass();
