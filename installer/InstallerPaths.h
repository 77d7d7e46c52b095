#pragma once

// Names, folders and path checks that the installer's objects share.

#include <new>
#include <vector>

#include "FUiObjectFactory.h"
#include "FWideString.h"

class FIFolder;
class FPropList;

inline constexpr const char* kMakerFolderName = "Talvo";
inline constexpr const char* kProgramName = "Rawbench";
inline constexpr const char* kInstallListName = "InstallList.xml";
inline constexpr const char* kUpdateListName = "UpdateList.xml";
inline constexpr const char* kUninstallFileName = "Uninstall.xml";
inline constexpr const char* kStateFileName = "Rawbench.state.xml";
inline constexpr const char* kPreferencesFileName = "Preferences.xml";
inline constexpr const char* kAutoLaunchPrefsName = "AutoLaunchPreferences.xml";
// The system name that install lists give for this platform.
inline constexpr const char* kSystemName = "Linux";

using FUrlParts = std::vector<FWideString>;

// The parts of a URL; empty when it does not split.
FUrlParts UrlParts(const FWideString& url);
// The parts joined; a trailing "/" on request.
FWideString JoinParts(const FUrlParts& parts, bool trailingSlash);
// The URL of a folder's entry: the folder's parts and the name, no trailing "/".
FWideString ChildUrl(const FWideString& folderUrl, const FWideString& name);
// The native path of a URL, empty when it has none.
FWideString NativeOf(const FWideString& url);

// A special folder's URL; the folder is not made when it is missing (the installer
// makes only what it writes to, and records it).
FWideString SpecialFolderUrl(int kind);
// The user's application-data folder (special folder 1) and the maker folder in it.
FWideString AppDataFolderUrl();
FWideString MakerFolderUrl();
// The user's data folder (the one that holds the applications folder).
FWideString UserDataFolderUrl();
// The per-user destination: the folders "Talvo/Rawbench" in the user's data folder.
FWideString DefaultDestinationUrl();

// A single file or folder name that stays where it is put: not empty, not "." or
// "..", and without "/", "\" or NUL.
bool IsPlainEntryName(const FWideString& name);
// True when every part of the relative path ("a/b/c") is a plain entry name.
bool IsPlainRelativePath(const FWideString& path);
// True when `url` is `root` or lies below it, compared part by part; parts "."
// and ".." anywhere make it false.
bool IsUrlInside(const FWideString& url, const FWideString& root);

// Folders an uninstallation must never remove, nor reach by removing what is
// below them: volume roots (among them the home folder), the user's data and
// application-data folders and the maker folder, and their ancestors.
bool IsProtectedFolderUrl(const FWideString& url);
// The same URL with a trailing "/", for comparing folder URLs.
FWideString FolderKey(const FWideString& url);

// True when the deepest folder on the way to `url` that exists may be written, so
// that the folders still missing can be made and filled.
bool IsWritableFolderPath(const FWideString& url);

// Opens a folder by URL without creating it; null when it does not open or the
// URL names a file. Storage exceptions are swallowed.
FIFolder* OpenExistingFolder(const FWideString& url);
// Opens a folder, creating it and its parents; null on failure.
FIFolder* OpenOrCreateFolder(const FWideString& url);

// The install list the stage sequencer names with a pair {location URL, file
// name}: the location is the archive's container when it is a file, else a
// folder. Throws when nothing opens there; a syntax error passes on.
FPropList* ReadInstallListAt(const FWideString* pair);

// Registers a creator of T under the type name; a refused creator is deleted.
// A creator that cannot be made is still handed over as null, and refused.
template <class T, class Factory>
bool RegisterInstallerCreator(Factory* factory, const char* typeName)
{
    auto* creator = new (std::nothrow) FUiObjectCreatorOf<T>;
    if (factory->Register(typeName, creator))
        return true;
    delete creator;
    return false;
}
