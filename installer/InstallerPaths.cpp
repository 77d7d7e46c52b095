#include "InstallerPaths.h"

#include "FBundleFolder.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FIStorageClass.h"
#include "FXmlParser.h"
#include "StorageClassRegistry.h"

FUrlParts UrlParts(const FWideString& url)
{
    FUrlParts parts;
    if (!SplitURL(url, parts))
        parts.clear();
    return parts;
}

FWideString JoinParts(const FUrlParts& parts, bool trailingSlash)
{
    FWideString url;
    if (!JoinURL(parts, url, trailingSlash))
        url.Clear();
    return url;
}

FWideString ChildUrl(const FWideString& folderUrl, const FWideString& name)
{
    FUrlParts parts = UrlParts(folderUrl);
    if (parts.empty())
        return FWideString();
    FWideString escaped;
    EscapeURLChars(name, escaped);
    parts.push_back(escaped);
    return JoinParts(parts, false);
}

FWideString NativeOf(const FWideString& url)
{
    FWideString native;
    if (url.IsEmpty())
        return native;
    try {
        if (!URLToNativePath(url, native))
            native.Clear();
    } catch (const FException&) {
        native.Clear();
    }
    return native;
}

FWideString SpecialFolderUrl(int kind)
{
    return GetSpecialPathURL(kind | kSpecialPathNoCreate);
}

FWideString AppDataFolderUrl()
{
    return SpecialFolderUrl(kSpecialPathAppData);
}

FWideString MakerFolderUrl()
{
    FUrlParts parts = UrlParts(AppDataFolderUrl());
    if (parts.empty())
        return FWideString();
    parts.push_back(FWideString(kMakerFolderName));
    return JoinParts(parts, true);
}

FWideString UserDataFolderUrl()
{
    // The applications folder lies in the user's data folder; its parent is that folder.
    FUrlParts parts = UrlParts(SpecialFolderUrl(kSpecialPathPrograms));
    if (parts.size() < 3)
        return FWideString();
    parts.pop_back();
    return JoinParts(parts, true);
}

FWideString DefaultDestinationUrl()
{
    FUrlParts parts = UrlParts(UserDataFolderUrl());
    if (parts.size() < 2)
        return FWideString();
    parts.push_back(FWideString(kMakerFolderName));
    parts.push_back(FWideString(kProgramName));
    return JoinParts(parts, true);
}

bool IsPlainEntryName(const FWideString& name)
{
    if (name.IsEmpty() || name == "." || name == "..")
        return false;
    for (int i = 0; i < name.GetLength(); ++i) {
        const char16_t c = name.GetBuffer()[i];
        if (c == u'/' || c == u'\\' || c == 0)
            return false;
    }
    return true;
}

bool IsPlainRelativePath(const FWideString& path)
{
    std::vector<FWideString> pieces;
    SplitString(path, pieces, FWideString("/"));
    if (pieces.empty())
        return false;
    for (const FWideString& piece : pieces) {
        if (!IsPlainEntryName(piece))
            return false;
    }
    return true;
}

namespace
{

bool HasDotPart(const FUrlParts& parts)
{
    for (const FWideString& part : parts) {
        FWideString name;
        UnescapeURLChars(part, name);
        if (name == "." || name == "..")
            return true;
    }
    return false;
}

} // namespace

bool IsUrlInside(const FWideString& url, const FWideString& root)
{
    const FUrlParts parts = UrlParts(url);
    const FUrlParts rootParts = UrlParts(root);
    if (rootParts.size() < 2 || parts.size() < rootParts.size() || HasDotPart(parts) || HasDotPart(rootParts))
        return false;
    for (size_t i = 0; i < rootParts.size(); ++i) {
        if (!(parts[i] == rootParts[i]))
            return false;
    }
    return true;
}

bool IsProtectedFolderUrl(const FWideString& url)
{
    if (UrlParts(url).size() < 3)
        return true;
    for (const FWideString& kept : {AppDataFolderUrl(), MakerFolderUrl(), UserDataFolderUrl()}) {
        if (!kept.IsEmpty() && IsUrlInside(kept, url))
            return true;
    }
    return false;
}

FWideString FolderKey(const FWideString& url)
{
    return JoinParts(UrlParts(url), true);
}

namespace
{

// A folder, never the parent of a file the URL happens to name.
FIFolder* OpenFolderOnly(const FWideString& url, bool create)
{
    if (url.IsEmpty())
        return nullptr;
    FIFolder* folder = nullptr;
    FWideString fileName;
    try {
        folder = OpenFolderURL(url, fileName, create);
    } catch (const FException&) {
        folder = nullptr;
    }
    if (folder && !fileName.IsEmpty()) {
        folder->Release();
        folder = nullptr;
    }
    return folder;
}

} // namespace

bool IsWritableFolderPath(const FWideString& url)
{
    FUrlParts parts = UrlParts(url);
    while (parts.size() >= 2) {
        if (FIFolder* folder = OpenExistingFolder(JoinParts(parts, true))) {
            // The owner's write bit counts too: the administrator could write there, the user not.
            int flags = 0;
            const bool readOnly =
                folder->IsReadOnly() || (folder->GetAttributes(flags) && (flags & kFileAttrReadOnly) != 0);
            folder->Release();
            return !readOnly;
        }
        parts.pop_back();
    }
    return false;
}

FIFolder* OpenExistingFolder(const FWideString& url)
{
    return OpenFolderOnly(url, false);
}

FIFolder* OpenOrCreateFolder(const FWideString& url)
{
    return OpenFolderOnly(url, true);
}

FPropList* ReadInstallListAt(const FWideString* pair)
{
    // A location that is a file is the archive's container, whatever its name looks like.
    bool isFolder = false, exists = false;
    try {
        exists = ExistsURL(pair[0], isFolder);
    } catch (const FException&) {
        exists = false;
    }
    FIFolder* folder = nullptr;
    if (exists && !isFolder)
        folder = new FBundleFolder(pair[0]);
    else if (exists)
        folder = OpenExistingFolder(pair[0]);
    if (!folder)
        throw FException("Cannot open the Folder of the Registry Key file!\n");
    FPropList* root = nullptr;
    try {
        FXmlParser parser;
        root = parser.ParseFile(folder, pair[1]);
    } catch (const FExceptionXMLParser& e) {
        folder->Release();
        DebugTrace("FExceptionXMLParser : %s\n", e.GetDescription());
        throw FExceptionXMLParser(e.GetMessage());
    }
    folder->Release();
    return root;
}
