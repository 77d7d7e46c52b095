#include "StorageClassRegistry.h"

#include "FException.h"
#include "FSCEnumFolder.h"

#include <climits>
#include <mutex>
#include <shared_mutex>

namespace
{

// Worker threads look classes up while the user-interface thread may register
// one, so the vector is guarded; the class objects themselves live until shutdown.
struct Registry {
    std::shared_mutex m_lock;
    std::vector<FStorageClassEntry> m_entries;
};

Registry& GetRegistry()
{
    static Registry* s_pRegistry = new Registry; // outlives every static user
    return *s_pRegistry;
}

constexpr char16_t kEscapedChars[] = {u'%', u'/', u':', u'\\', u'\'', u'"', u'?', u'*', u'#'};
constexpr int kEscapeDigits = 4;

bool IsEscapedChar(char16_t unit)
{
    for (char16_t c : kEscapedChars) {
        if (c == unit)
            return true;
    }
    return false;
}

int HexDigitValue(char16_t unit)
{
    if (unit >= u'0' && unit <= u'9')
        return unit - u'0';
    if (unit >= u'A' && unit <= u'F')
        return unit - u'A' + 10;
    if (unit >= u'a' && unit <= u'f')
        return unit - u'a' + 10;
    return -1;
}

// Value of exactly four hex digits at text[0..3], or -1.
int ParseEscape(const char16_t* text, int available)
{
    if (available < kEscapeDigits)
        return -1;
    int value = 0;
    for (int i = 0; i < kEscapeDigits; ++i) {
        int digit = HexDigitValue(text[i]);
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

FWideString Substring(const FWideString& text, int first, int count)
{
    if (count <= 0)
        return FWideString();
    const char16_t* p = text.GetBuffer() + first;
    return FWideString(p, p + count - 1);
}

bool SplitSchemeAndPath(const FWideString& url, FWideString& scheme, FWideString& path)
{
    if (url.Split(u"://", scheme, path))
        return true;
    scheme = url;
    path.Clear();
    return false;
}

template <typename Function>
void WithFileOpenForReading(const FWideString& url, Function function)
{
    FIFile* file = OpenFileURL(url, kFileRead);
    if (!file)
        return;
    try {
        function(*file);
    } catch (...) {
        file->Release();
        throw;
    }
    file->Release();
}

} // namespace

void RegisterStorageClass(const FWideString& name, FIStorageClass* storageClass)
{
    Registry& registry = GetRegistry();
    std::unique_lock lock(registry.m_lock);
    registry.m_entries.push_back(FStorageClassEntry{name, storageClass});
}

void ShutdownStorageClasses()
{
    Registry& registry = GetRegistry();
    std::unique_lock lock(registry.m_lock);
    for (FStorageClassEntry& entry : registry.m_entries) {
        delete entry.m_pClass;
        entry.m_pClass = nullptr;
        entry.m_name.Clear();
    }
}

std::vector<FStorageClassEntry> GetStorageClassEntries()
{
    Registry& registry = GetRegistry();
    std::shared_lock lock(registry.m_lock);
    return registry.m_entries;
}

FIStorageClass* FindStorageClass(const FWideString& url, FWideString& path)
{
    FWideString scheme;
    FWideString rest;
    SplitSchemeAndPath(url, scheme, rest);

    Registry& registry = GetRegistry();
    std::shared_lock lock(registry.m_lock);
    for (const FStorageClassEntry& entry : registry.m_entries) {
        if (entry.m_pClass && entry.m_name == scheme) {
            path = rest;
            return entry.m_pClass;
        }
    }
    return nullptr;
}

FIFile* OpenFileURL(const FWideString& url, int mode)
{
    if (url.IsEmpty())
        return nullptr;
    FWideString path;
    FIStorageClass* storageClass = FindStorageClass(url, path);
    if (!storageClass)
        return nullptr;
    return storageClass->OpenFile(path, mode);
}

FIFolder* OpenFolderURL(const FWideString& url, FWideString& fileName, bool create)
{
    if (url.IsEmpty())
        return new FSCEnumFolder;
    FWideString path;
    FIStorageClass* storageClass = FindStorageClass(url, path);
    if (!storageClass)
        return nullptr;
    return storageClass->OpenFolder(path, fileName, create);
}

FWideString GetSpecialPathURL(int kind)
{
    for (const FStorageClassEntry& entry : GetStorageClassEntries()) {
        if (!entry.m_pClass)
            continue;
        FWideString url;
        if (entry.m_pClass->GetSpecialPath(kind, url))
            return url;
    }
    return FWideString();
}

bool URLToNativePath(const FWideString& url, FWideString& native)
{
    native.Clear();
    if (url.IsEmpty())
        return false;
    FWideString path;
    FIStorageClass* storageClass = FindStorageClass(url, path);
    if (!storageClass)
        return false;
    return storageClass->ToNativePath(path, native);
}

bool NativePathToURL(const FWideString& native, FWideString& url)
{
    for (const FStorageClassEntry& entry : GetStorageClassEntries()) {
        if (!entry.m_pClass)
            continue;
        FWideString path;
        if (!entry.m_pClass->FromNativePath(native, path))
            continue;
        url = entry.m_name;
        url += u"://";
        url += path;
        return true;
    }
    return false;
}

namespace
{

FIStorageClass* FindStorageClassOrThrow(const FWideString& url, FWideString& path)
{
    FIStorageClass* storageClass = FindStorageClass(url, path);
    if (!storageClass)
        throw FExceptionStorageClassDoesNotExist(url.GetNarrow());
    return storageClass;
}

} // namespace

void LaunchFileURL(const FWideString& url, const char16_t* parameters)
{
    FWideString path;
    FindStorageClassOrThrow(url, path)->Launch(path, parameters);
}

void MoveToTrashURL(const FWideString& url)
{
    FWideString path;
    FindStorageClassOrThrow(url, path)->MoveToTrash(path);
}

void DeleteFileURL(const FWideString& url)
{
    std::vector<FWideString> parts;
    SplitURL(url, parts);
    CheckArrayIndex(static_cast<long long>(parts.size()) - 1, parts.size());
    // URL parts are escaped; folders take native names.
    FWideString name;
    UnescapeURLChars(parts.back(), name);
    parts.pop_back();

    FWideString folderURL;
    JoinURL(parts, folderURL, true);
    FWideString ignored;
    FIFolder* folder = OpenFolderURL(folderURL, ignored, false);
    if (!folder)
        return;
    try {
        folder->DeleteFile(name);
    } catch (...) {
        folder->Release();
        throw;
    }
    folder->Release();
}

bool ExistsURL(const FWideString& url, bool& isFolder)
{
    FWideString path;
    FIStorageClass* storageClass = FindStorageClass(url, path);
    if (!storageClass)
        return false;
    return storageClass->Exists(path, isFolder);
}

void GetFileInfoURL(const FWideString& url, FFileInfo& info)
{
    WithFileOpenForReading(url, [&](FIFile& file) { file.GetInfo(info); });
}

void SetFileAttributesURL(const FWideString& url, const FFileInfo& info)
{
    WithFileOpenForReading(url, [&](FIFile& file) { file.SetAttributes(info); });
}

int GetFileSizeURL(const FWideString& url)
{
    // Callers keep an int; a size beyond it saturates rather than wrapping to a
    // small or negative count.
    uint64_t size = 0;
    WithFileOpenForReading(url, [&](FIFile& file) { size = file.GetSize(); });
    return size > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

void EscapeURLChars(const FWideString& text, FWideString& escaped)
{
    escaped.Clear();
    const char16_t* units = text.GetBuffer();
    for (int i = 0; i < text.GetLength(); ++i) {
        char16_t unit = units[i];
        if (!IsEscapedChar(unit)) {
            // Append, not +=: control units in native names must survive.
            escaped.Append(unit);
            continue;
        }
        static constexpr char kHex[] = "0123456789ABCDEF";
        escaped.Append(u'%');
        for (int shift = 12; shift >= 0; shift -= 4)
            escaped.Append(static_cast<char16_t>(kHex[(unit >> shift) & 0xF]));
    }
}

void UnescapeURLChars(const FWideString& text, FWideString& unescaped)
{
    unescaped.Clear();
    const char16_t* units = text.GetBuffer();
    int length = text.GetLength();
    for (int i = 0; i < length; ++i) {
        char16_t unit = units[i];
        if (unit != u'%') {
            unescaped.Append(unit);
            continue;
        }
        // Only "%" and exactly four hex digits is an escape; anything else
        // ("100% crop.jpg") is kept as written. NUL cannot be part of a name.
        int value = ParseEscape(units + i + 1, length - i - 1);
        if (value <= 0) {
            unescaped.Append(unit);
            continue;
        }
        unescaped.Append(static_cast<char16_t>(value));
        i += kEscapeDigits;
    }
}

std::vector<FWideString> NonEmptyPathParts(const FWideString& path)
{
    std::vector<FWideString> pieces;
    SplitString(path, pieces, u"/");
    std::vector<FWideString> parts;
    for (FWideString& piece : pieces) {
        if (!piece.IsEmpty())
            parts.push_back(piece);
    }
    return parts;
}

void SplitString(const FWideString& text, std::vector<FWideString>& pieces, const FWideString& separator)
{
    pieces.clear();
    int length = text.GetLength();
    int sepLength = separator.GetLength();
    if (length == 0)
        return;
    if (sepLength == 0) {
        pieces.push_back(text);
        return;
    }
    const char16_t* units = text.GetBuffer();
    int start = 0;
    for (int i = 0; i + sepLength <= length;) {
        if (FWideString::priCompareUnits(units + i, separator.GetBuffer(), sepLength) != 0) {
            ++i;
            continue;
        }
        pieces.push_back(Substring(text, start, i - start));
        i += sepLength;
        start = i;
    }
    if (start < length)
        pieces.push_back(Substring(text, start, length - start));
}

void JoinStrings(const std::vector<FWideString>& pieces, FWideString& text, const FWideString& separator)
{
    text.Clear();
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            text += separator;
        text += pieces[i];
    }
}

bool SplitURL(const FWideString& url, std::vector<FWideString>& parts)
{
    parts.clear();
    FWideString scheme;
    FWideString path;
    if (!SplitSchemeAndPath(url, scheme, path)) {
        parts.push_back(url);
        return true;
    }
    std::vector<FWideString> pieces;
    SplitString(path, pieces, u"/");
    if (!scheme.IsEmpty())
        parts.push_back(scheme);
    for (FWideString& piece : pieces) {
        if (!piece.IsEmpty())
            parts.push_back(piece);
    }
    return true;
}

bool JoinURL(const std::vector<FWideString>& parts, FWideString& url, bool trailingSlash)
{
    url.Clear();
    if (parts.empty())
        return false;
    url = parts[0];
    url += u"://";
    for (size_t i = 1; i < parts.size(); ++i) {
        if (i > 1)
            url += u"/";
        url += parts[i];
    }
    if (trailingSlash)
        url += u"/";
    return true;
}

bool GetFileExtension(const FWideString& path, FWideString& extension)
{
    const char16_t* units = path.GetBuffer();
    for (int i = path.GetLength() - 1; i >= 0; --i) {
        if (units[i] == u'.') {
            extension = Substring(path, i, path.GetLength() - i);
            return true;
        }
    }
    extension.Clear();
    return false;
}

void RemoveFileExtension(FWideString& path)
{
    FWideString extension;
    if (GetFileExtension(path, extension))
        path.DropRight(extension.GetLength());
}

bool EqualsNoCase(const FWideString& a, const FWideString& b)
{
    // The member compares up to the NUL of its argument; lengths settle the rest.
    return a.GetLength() == b.GetLength() && a.CompareNoCase(b.GetBuffer()) == 0;
}
