#pragma once

// The three interfaces through which every file and folder is reached by URL,
// and the small value types they share.

#include "FWideString.h"

#include <cstdint>
#include <vector>

class FIFile;
class FIFolder;

// Open modes: bits of the int passed to OpenFile.
constexpr int kFileRead = 1;
constexpr int kFileWrite = 2;  // without kFileAppend: create or truncate
constexpr int kFileAppend = 4; // with kFileWrite: open or create, positioned at the end

// Special path kinds for GetSpecialPath / GetSpecialPathURL. Kind 7 is answered by no class.
constexpr int kSpecialPathExeFolder = 0;
constexpr int kSpecialPathAppData = 1;
constexpr int kSpecialPathTemp = 2;
constexpr int kSpecialPathSystemRoot = 3;
constexpr int kSpecialPathDesktop = 4;
constexpr int kSpecialPathPrograms = 5;
constexpr int kSpecialPathStartup = 6;
constexpr int kSpecialPathDocuments = 8;
// Added to a kind: the folder's URL without making the folder when it is missing.
constexpr int kSpecialPathNoCreate = 0x100;

// Attribute flags.
constexpr int kFileAttrReadOnly = 1;
constexpr int kFileAttrHidden = 2;
// Only set through SetAttributes: whoever may read the file may also run it.
constexpr int kFileAttrExecutable = 4;

// Drive kinds answered by FIFolder::GetDriveType.
constexpr int kDriveUnknown = 0;
constexpr int kDriveNoRootFolder = 1;
constexpr int kDriveRemovable = 2;
constexpr int kDriveFixed = 3;
constexpr int kDriveRemote = 4;
constexpr int kDriveCdRom = 5;
constexpr int kDriveRamDisk = 6;

// Times are seconds since 1970-01-01 00:00 UTC, kept in 64 bits so that they
// neither wrap after 2038 nor turn pre-1970 times into large positive values.
struct FFileInfo {
    int m_iFlags = 0;
    int64_t m_iModified = 0;
    int64_t m_iCreated = 0;
    int64_t m_iAccessed = 0;
};

// One object per URL scheme. Paths are URL paths without the scheme and "://".
class FIStorageClass
{
public:
    virtual FIFile* OpenFile(const FWideString& path, int mode) = 0;
    // When the path names a file, the folder is its parent and fileName receives the file's name.
    virtual FIFolder* OpenFolder(const FWideString& path, FWideString& fileName, bool create) = 0;
    virtual bool GetSpecialPath(int kind, FWideString& url) = 0;
    virtual bool ToNativePath(const FWideString& path, FWideString& native) = 0;
    virtual bool FromNativePath(const FWideString& native, FWideString& path) = 0;
    virtual const char16_t* GetName() = 0;
    virtual const char16_t* GetDescription() = 0;
    // Failures are exceptions of the FException family.
    virtual void Launch(const FWideString& path, const char16_t* parameters) = 0;
    virtual bool Exists(const FWideString& path, bool& isFolder) = 0;
    virtual void MoveToTrash(const FWideString& path) = 0;
    virtual ~FIStorageClass() = default;
};

// Folders are ended with Release, never deleted directly. Names are native
// (unescaped) names of entries of this folder.
class FIFolder
{
public:
    virtual ~FIFolder() = default;
    virtual void Release() { delete this; }
    virtual FIFolder* OpenSubFolder(const FWideString& name, bool create) = 0;
    virtual FIFile* OpenFile(const FWideString& name, int mode) = 0;
    // Both append; the vector is not cleared first.
    virtual void ListFiles(std::vector<FWideString>& names) = 0;
    virtual void ListFolders(std::vector<FWideString>& names) = 0;
    virtual void Rename(const FWideString& oldName, const FWideString& newName) = 0;
    virtual bool DeleteFile(const FWideString& name) = 0;
    // url is a full URL; mode 0 removes an empty folder only, 1 the folder with all its contents.
    virtual void DeleteFolder(const FWideString& url, int mode) = 0;
    virtual FWideString GetURL() = 0;
    virtual FWideString GetNote() = 0;
    virtual void SetTag(int tag) = 0;
    // -1 when unknown.
    virtual int64_t GetFreeSpace() = 0;
    virtual bool IsReadOnly() = 0;
    // Sets or clears kFileAttrReadOnly and kFileAttrHidden; other bits stay.
    virtual bool GetAttributes(int& flags) = 0;
    virtual int GetDriveType() = 0;
    virtual bool Exists(const FWideString& name, bool* isFolder) = 0;
    // A new empty file, open for reading and writing, under a fresh name that
    // begins with prefix; name receives it. Null when the folder cannot make one.
    virtual FIFile* CreateTempFile(const FWideString& prefix, FWideString& name);
    // Puts the file `from` in place of `to` in one step, replacing a file of that
    // name, and makes the change durable. Unlike Rename this replaces: it is the
    // last step of saving a whole file. Throws FExceptionFileWrite.
    virtual void ReplaceFile(const FWideString& from, const FWideString& to);
    // When `name` is a symbolic link, the URL of the file it leads to (which need not
    // exist yet), so that saving over the link writes its target. False otherwise.
    virtual bool ResolveLink(const FWideString& name, FWideString& targetURL);
};

class FIFile
{
public:
    virtual ~FIFile() = default;
    virtual void Release() { delete this; }
    virtual void Seek(uint64_t position) = 0;
    virtual uint64_t Tell() = 0;
    // The line keeps its line end; false at the end.
    virtual bool ReadLine(FWideString& line) = 0;
    // Exactly n bytes, else FExceptionEOF.
    virtual int Read(void* buffer, int n) = 0;
    // At most n bytes; 0 at the end.
    virtual int ReadSome(void* buffer, int n) = 0;
    // Failures throw FExceptionFileWrite.
    virtual void Write(const void* buffer, int n) = 0;
    virtual void Flush() = 0;
    virtual void SetSize(uint64_t size) = 0;
    virtual uint64_t GetSize() = 0;
    virtual FWideString GetURL() = 0;
    virtual void GetInfo(FFileInfo& info) = 0;
    // Applies the read-only bit, and kFileAttrExecutable where the class has modes.
    virtual void SetAttributes(const FFileInfo& info) = 0;
};
