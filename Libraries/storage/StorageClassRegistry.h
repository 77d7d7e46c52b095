#pragma once

// The process-wide registry of storage classes and the URL text functions.
// A URL is scheme "://" path; a text without "://" is a scheme with an empty path.

#include "FIStorageClass.h"

#include <vector>

struct FStorageClassEntry {
    FWideString m_name;
    FIStorageClass* m_pClass = nullptr;
};

// Appends an entry; the registry owns the class from now on.
void RegisterStorageClass(const FWideString& name, FIStorageClass* storageClass);
// Deletes every class; the entries stay with an empty name and a null class.
void ShutdownStorageClasses();
// A snapshot of the entries, in registration order.
std::vector<FStorageClassEntry> GetStorageClassEntries();

FIStorageClass* FindStorageClass(const FWideString& url, FWideString& path);
// Objects returned belong to the caller, who ends them with Release.
FIFile* OpenFileURL(const FWideString& url, int mode);
FIFolder* OpenFolderURL(const FWideString& url, FWideString& fileName, bool create);
FWideString GetSpecialPathURL(int kind);
bool URLToNativePath(const FWideString& url, FWideString& native);
bool NativePathToURL(const FWideString& native, FWideString& url);
void LaunchFileURL(const FWideString& url, const char16_t* parameters);
void MoveToTrashURL(const FWideString& url);
void DeleteFileURL(const FWideString& url);
bool ExistsURL(const FWideString& url, bool& isFolder);
void GetFileInfoURL(const FWideString& url, FFileInfo& info);
void SetFileAttributesURL(const FWideString& url, const FFileInfo& info);
// The size saturated to INT_MAX; 0 when the file cannot be opened.
int GetFileSizeURL(const FWideString& url);

void EscapeURLChars(const FWideString& text, FWideString& escaped);
void UnescapeURLChars(const FWideString& text, FWideString& unescaped);
bool SplitURL(const FWideString& url, std::vector<FWideString>& parts);
bool JoinURL(const std::vector<FWideString>& parts, FWideString& url, bool trailingSlash);
void SplitString(const FWideString& text, std::vector<FWideString>& pieces, const FWideString& separator);
// The parts of a storage-class path between its slashes, empty parts left out.
std::vector<FWideString> NonEmptyPathParts(const FWideString& path);
void JoinStrings(const std::vector<FWideString>& pieces, FWideString& text, const FWideString& separator);
bool GetFileExtension(const FWideString& path, FWideString& extension);
void RemoveFileExtension(FWideString& path);
bool EqualsNoCase(const FWideString& a, const FWideString& b);
