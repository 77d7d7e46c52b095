#include "FMemStorageClass.h"

#include "FCopyableFile.h"
#include "FException.h"
#include "StorageClassRegistry.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <set>

struct FMemFileData {
    std::vector<unsigned char> m_bytes;
    bool m_bReadOnly = false;
    int64_t m_iModified = 0;
};

// Forward declaration: the index files keys under the parent SplitKey names.
namespace
{
void SplitKey(const FWideString& key, FWideString& parent, FWideString& last);
}

// Entries by key plus, for each parent key, its direct children's keys, so
// that listing a folder costs its own entries rather than the whole store.
template <class Value>
class FMemKeyedStore
{
public:
    using Map = std::map<FWideString, Value>;
    using iterator = typename Map::iterator;

    size_t count(const FWideString& key) const { return m_entries.count(key); }
    iterator find(const FWideString& key) { return m_entries.find(key); }
    iterator begin() { return m_entries.begin(); }
    iterator end() { return m_entries.end(); }
    typename Map::const_iterator begin() const { return m_entries.begin(); }
    typename Map::const_iterator end() const { return m_entries.end(); }

    std::pair<iterator, bool> emplace(const FWideString& key, Value value)
    {
        auto result = m_entries.emplace(key, std::move(value));
        if (result.second)
            priIndex(key);
        return result;
    }

    void insert(const FWideString& key) { emplace(key, Value()); }

    Value& operator[](const FWideString& key)
    {
        auto found = m_entries.find(key);
        if (found != m_entries.end())
            return found->second;
        return emplace(key, Value()).first->second;
    }

    size_t erase(const FWideString& key)
    {
        auto found = m_entries.find(key);
        if (found == m_entries.end())
            return 0;
        erase(found);
        return 1;
    }

    void erase(iterator position)
    {
        priUnindex(position->first);
        m_entries.erase(position);
    }

    template <class Predicate>
    void EraseKeysIf(Predicate predicate)
    {
        for (auto it = m_entries.begin(); it != m_entries.end();) {
            if (predicate(it->first)) {
                priUnindex(it->first);
                it = m_entries.erase(it);
            } else {
                ++it;
            }
        }
    }

    // Every key becomes rekey(key); on a clash the first in key order stays.
    template <class Rekey>
    void RekeyAll(Rekey rekey)
    {
        Map old = std::move(m_entries);
        m_entries.clear();
        m_children.clear();
        for (auto& entry : old)
            emplace(rekey(entry.first), std::move(entry.second));
    }

    // Keys whose parent is `parent`, in key order.
    const std::set<FWideString>& Children(const FWideString& parent) const
    {
        static const std::set<FWideString> kNone;
        auto found = m_children.find(parent);
        return found == m_children.end() ? kNone : found->second;
    }

private:
    void priIndex(const FWideString& key)
    {
        FWideString parent;
        FWideString last;
        SplitKey(key, parent, last);
        m_children[parent].insert(key);
    }

    void priUnindex(const FWideString& key)
    {
        FWideString parent;
        FWideString last;
        SplitKey(key, parent, last);
        auto found = m_children.find(parent);
        if (found == m_children.end())
            return;
        found->second.erase(key);
        if (found->second.empty())
            m_children.erase(found);
    }

    Map m_entries;
    std::map<FWideString, std::set<FWideString>> m_children;
};

struct FMemFolderMark {
};

struct FMemStorageState {
    FWideString m_name;
    mutable std::mutex m_lock;
    FMemKeyedStore<FMemFolderMark> m_folders;              // keys: escaped parts joined by "/"
    FMemKeyedStore<std::shared_ptr<FMemFileData>> m_files; // same keys
    int64_t m_iReadFault = -1;
    int64_t m_iWriteFault = -1;
    int64_t m_iWriteCount = 0;
    int64_t m_iFailWrite = -1;
    bool m_bFailLasting = false;
    bool m_bFlushFault = false;
    int64_t m_iTempCounter = 0;
    std::vector<FWideString> m_launched;
    std::vector<FWideString> m_trashed;
    int64_t m_iClock = 0;
};

namespace
{

using State = std::shared_ptr<FMemStorageState>;

FWideString KeyOf(const std::vector<FWideString>& parts, size_t count)
{
    FWideString key;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0)
            key += u"/";
        key += parts[i];
    }
    return key;
}

FWideString ChildKey(const FWideString& folder, const FWideString& nativeName)
{
    FWideString part;
    EscapeURLChars(nativeName, part);
    if (folder.IsEmpty())
        return part;
    FWideString key = folder;
    key += u"/";
    key += part;
    return key;
}

// The parent key and the escaped last part of a key.
void SplitKey(const FWideString& key, FWideString& parent, FWideString& last)
{
    std::vector<FWideString> parts = NonEmptyPathParts(key);
    last = parts.empty() ? FWideString() : parts.back();
    parent = KeyOf(parts, parts.empty() ? 0 : parts.size() - 1);
}

bool IsDirectChild(const FWideString& folder, const FWideString& key, FWideString& part)
{
    FWideString parent;
    SplitKey(key, parent, part);
    return !key.IsEmpty() && parent == folder;
}

FWideString MakeURL(const State& state, const FWideString& key, bool trailingSlash)
{
    FWideString url = state->m_name;
    url += u"://";
    url += key;
    if (trailingSlash && !key.IsEmpty())
        url += u"/";
    return url;
}

void MakeFolders(FMemStorageState& state, const FWideString& key)
{
    std::vector<FWideString> parts = NonEmptyPathParts(key);
    for (size_t i = 1; i <= parts.size(); ++i)
        state.m_folders.insert(KeyOf(parts, i));
}

class FMemFile : public FCopyableFile
{
public:
    FMemFile(State state, FWideString key, std::shared_ptr<FMemFileData> data)
        : m_pState(std::move(state)), m_key(std::move(key)), m_pData(std::move(data))
    {
    }

    void Seek(uint64_t position) override { m_iPosition = position; }
    uint64_t Tell() override { return m_iPosition; }

    bool ReadLine(FWideString& line) override
    {
        line.Clear();
        char byte = 0;
        while (ReadSome(&byte, 1) == 1) {
            line += byte;
            if (byte == '\r' || byte == '\n')
                break;
        }
        if (line.IsEmpty())
            return false;
        if (byte == '\r') {
            uint64_t back = m_iPosition;
            char next = 0;
            if (ReadSome(&next, 1) == 1 && next == '\n')
                line += next;
            else
                m_iPosition = back;
        }
        return true;
    }

    int Read(void* buffer, int n) override
    {
        if (ReadSome(buffer, n) < n)
            throw FExceptionEOF();
        return n;
    }

    int ReadSome(void* buffer, int n) override
    {
        std::lock_guard lock(m_pState->m_lock);
        if (n <= 0)
            return 0;
        uint64_t size = m_pData->m_bytes.size();
        if (m_iPosition >= size)
            return 0;
        uint64_t count = std::min<uint64_t>(static_cast<uint64_t>(n), size - m_iPosition);
        if (m_pState->m_iReadFault >= 0 &&
            m_iPosition + count > static_cast<uint64_t>(m_pState->m_iReadFault))
            throw FExceptionFileRead("FMemFile::ReadSome");
        std::copy_n(m_pData->m_bytes.begin() + static_cast<ptrdiff_t>(m_iPosition), count,
                    static_cast<unsigned char*>(buffer));
        m_iPosition += count;
        return static_cast<int>(count);
    }

    void Write(const void* buffer, int n) override
    {
        std::lock_guard lock(m_pState->m_lock);
        if (n <= 0)
            return;
        const int64_t index = m_pState->m_iWriteCount++;
        if (index == m_pState->m_iFailWrite) {
            priStore(buffer, n / 2);
            throw FExceptionFileWrite("FMemFile::Write: injected failure");
        }
        if (m_pState->m_bFailLasting && m_pState->m_iFailWrite >= 0 && index > m_pState->m_iFailWrite)
            throw FExceptionFileWrite("FMemFile::Write: injected failure");
        uint64_t end = m_iPosition + static_cast<uint64_t>(n);
        if (m_pState->m_iWriteFault >= 0 && end > static_cast<uint64_t>(m_pState->m_iWriteFault))
            throw FExceptionFileWrite("FMemFile::Write");
        priStore(buffer, n);
    }

    void priStore(const void* buffer, int n)
    {
        uint64_t end = m_iPosition + static_cast<uint64_t>(n);
        if (end > m_pData->m_bytes.size())
            m_pData->m_bytes.resize(end);
        std::copy_n(static_cast<const unsigned char*>(buffer), n,
                    m_pData->m_bytes.begin() + static_cast<ptrdiff_t>(m_iPosition));
        m_iPosition = end;
        m_pData->m_iModified = ++m_pState->m_iClock;
    }

    void Flush() override
    {
        std::lock_guard lock(m_pState->m_lock);
        if (m_pState->m_bFlushFault)
            throw FExceptionFileWrite("FMemFile::Flush: injected failure");
    }

    void SetSize(uint64_t size) override
    {
        std::lock_guard lock(m_pState->m_lock);
        if (m_pState->m_iWriteFault >= 0 && size > static_cast<uint64_t>(m_pState->m_iWriteFault))
            throw FExceptionFileWrite("FMemFile::SetSize");
        m_pData->m_bytes.resize(size);
    }

    uint64_t GetSize() override
    {
        std::lock_guard lock(m_pState->m_lock);
        return m_pData->m_bytes.size();
    }

    FWideString GetURL() override { return MakeURL(m_pState, m_key, false); }

    void GetInfo(FFileInfo& info) override
    {
        std::lock_guard lock(m_pState->m_lock);
        info.m_iFlags =
            m_pData->m_bReadOnly ? (info.m_iFlags | kFileAttrReadOnly) : (info.m_iFlags & ~kFileAttrReadOnly);
        info.m_iModified = info.m_iCreated = info.m_iAccessed = m_pData->m_iModified;
    }

    void SetAttributes(const FFileInfo& info) override
    {
        std::lock_guard lock(m_pState->m_lock);
        m_pData->m_bReadOnly = (info.m_iFlags & kFileAttrReadOnly) != 0;
    }

private:
    State m_pState;
    FWideString m_key;
    std::shared_ptr<FMemFileData> m_pData;
    uint64_t m_iPosition = 0;
};

FIFile* OpenMemFile(const State& state, const FWideString& key, int mode)
{
    std::lock_guard lock(state->m_lock);
    FWideString parent;
    FWideString last;
    SplitKey(key, parent, last);
    if (last.IsEmpty() || !state->m_folders.count(parent) || state->m_folders.count(key))
        return nullptr;
    auto found = state->m_files.find(key);
    if (found == state->m_files.end()) {
        if (!(mode & kFileWrite))
            return nullptr;
        found = state->m_files.emplace(key, std::make_shared<FMemFileData>()).first;
        found->second->m_iModified = ++state->m_iClock;
    }
    std::shared_ptr<FMemFileData> data = found->second;
    if ((mode & kFileWrite) && data->m_bReadOnly)
        return nullptr;
    auto* file = new FMemFile(state, key, data);
    if ((mode & kFileWrite) && !(mode & kFileAppend))
        data->m_bytes.clear();
    if ((mode & kFileWrite) && (mode & kFileAppend))
        file->Seek(data->m_bytes.size());
    return file;
}

class FMemFolder : public FIFolder
{
public:
    FMemFolder(State state, FWideString key) : m_pState(std::move(state)), m_key(std::move(key)) {}

    FIFolder* OpenSubFolder(const FWideString& name, bool create) override
    {
        FWideString key = ChildKey(m_key, name);
        std::lock_guard lock(m_pState->m_lock);
        if (!m_pState->m_folders.count(key)) {
            if (!create || m_pState->m_files.count(key))
                return nullptr;
            m_pState->m_folders.insert(key);
        }
        return new FMemFolder(m_pState, key);
    }

    FIFile* OpenFile(const FWideString& name, int mode) override
    {
        return OpenMemFile(m_pState, ChildKey(m_key, name), mode);
    }

    void ListFiles(std::vector<FWideString>& names) override
    {
        std::lock_guard lock(m_pState->m_lock);
        for (const FWideString& key : m_pState->m_files.Children(m_key))
            priAddChild(key, names);
    }

    void ListFolders(std::vector<FWideString>& names) override
    {
        std::lock_guard lock(m_pState->m_lock);
        for (const FWideString& key : m_pState->m_folders.Children(m_key))
            priAddChild(key, names);
    }

    void Rename(const FWideString& oldName, const FWideString& newName) override
    {
        FWideString from = ChildKey(m_key, oldName);
        FWideString to = ChildKey(m_key, newName);
        std::lock_guard lock(m_pState->m_lock);
        if (m_pState->m_files.count(to) || m_pState->m_folders.count(to))
            return;
        auto file = m_pState->m_files.find(from);
        if (file != m_pState->m_files.end()) {
            m_pState->m_files.emplace(to, file->second);
            m_pState->m_files.erase(file);
        }
        // Folders move with everything below them.
        if (!m_pState->m_folders.count(from))
            return;
        FWideString prefix = from;
        prefix += u"/";
        auto moved = [&](const FWideString& key) { return priMoved(key, from, prefix, to); };
        m_pState->m_folders.RekeyAll(moved);
        m_pState->m_files.RekeyAll(moved);
    }

    bool DeleteFile(const FWideString& name) override
    {
        std::lock_guard lock(m_pState->m_lock);
        m_pState->m_files.erase(ChildKey(m_key, name));
        return true;
    }

    void DeleteFolder(const FWideString& url, int mode) override
    {
        FWideString scheme;
        FWideString path;
        if (!url.Split(u"://", scheme, path) || scheme != m_pState->m_name)
            return;
        FWideString key = KeyOf(NonEmptyPathParts(path), NonEmptyPathParts(path).size());
        std::lock_guard lock(m_pState->m_lock);
        if (key.IsEmpty() || !m_pState->m_folders.count(key))
            return;
        FWideString prefix = key;
        prefix += u"/";
        auto below = [&](const FWideString& k) {
            return k.GetLength() > prefix.GetLength() &&
                   FWideString::priCompareUnits(k.GetBuffer(), prefix.GetBuffer(), prefix.GetLength()) == 0;
        };
        auto entryBelow = [&](const auto& e) { return below(e.first); };
        bool empty = std::none_of(m_pState->m_files.begin(), m_pState->m_files.end(), entryBelow) &&
                     std::none_of(m_pState->m_folders.begin(), m_pState->m_folders.end(), entryBelow);
        if (mode == 0 && !empty)
            return;
        if (mode != 0 && mode != 1)
            return;
        m_pState->m_files.EraseKeysIf(below);
        m_pState->m_folders.EraseKeysIf(below);
        m_pState->m_folders.erase(key);
    }

    FWideString GetURL() override { return MakeURL(m_pState, m_key, true); }
    FWideString GetNote() override { return FWideString(); }
    void SetTag(int tag) override { m_iTag = tag; }
    int64_t GetFreeSpace() override { return -1; }
    bool IsReadOnly() override { return false; }

    bool GetAttributes(int& flags) override
    {
        FWideString parent;
        FWideString last;
        SplitKey(m_key, parent, last);
        flags &= ~(kFileAttrReadOnly | kFileAttrHidden);
        if (!last.IsEmpty() && last.GetBuffer()[0] == u'.')
            flags |= kFileAttrHidden;
        return true;
    }

    int GetDriveType() override { return kDriveRamDisk; }

    FIFile* CreateTempFile(const FWideString& prefix, FWideString& name) override
    {
        FWideString candidate;
        {
            std::lock_guard lock(m_pState->m_lock);
            do {
                candidate = prefix;
                candidate += std::to_string(++m_pState->m_iTempCounter).c_str();
                candidate += ".tmp";
            } while (m_pState->m_files.count(ChildKey(m_key, candidate)) ||
                     m_pState->m_folders.count(ChildKey(m_key, candidate)));
        }
        FIFile* file = OpenMemFile(m_pState, ChildKey(m_key, candidate), kFileRead | kFileWrite);
        name = file ? candidate : FWideString();
        return file;
    }

    void ReplaceFile(const FWideString& from, const FWideString& to) override
    {
        FWideString source = ChildKey(m_key, from);
        FWideString target = ChildKey(m_key, to);
        std::lock_guard lock(m_pState->m_lock);
        auto file = m_pState->m_files.find(source);
        if (file == m_pState->m_files.end() || m_pState->m_folders.count(target))
            throw FExceptionFileWrite("FMemFolder::ReplaceFile");
        std::shared_ptr<FMemFileData> data = file->second;
        m_pState->m_files.erase(file);
        m_pState->m_files[target] = data;
    }

    bool Exists(const FWideString& name, bool* isFolder) override
    {
        FWideString key = ChildKey(m_key, name);
        std::lock_guard lock(m_pState->m_lock);
        bool folder = m_pState->m_folders.count(key) != 0;
        bool exists = folder || m_pState->m_files.count(key) != 0;
        if (exists && isFolder)
            *isFolder = folder;
        return exists;
    }

private:
    void priAddChild(const FWideString& key, std::vector<FWideString>& names)
    {
        FWideString part;
        if (!IsDirectChild(m_key, key, part))
            return;
        FWideString name;
        UnescapeURLChars(part, name);
        names.push_back(name);
    }

    static FWideString priMoved(const FWideString& key, const FWideString& from, const FWideString& prefix,
                                const FWideString& to)
    {
        if (key == from)
            return to;
        if (key.GetLength() <= prefix.GetLength() ||
            FWideString::priCompareUnits(key.GetBuffer(), prefix.GetBuffer(), prefix.GetLength()) != 0)
            return key;
        FWideString moved = to;
        moved += u"/";
        moved += FWideString(key.GetBuffer() + prefix.GetLength());
        return moved;
    }

    State m_pState;
    FWideString m_key;
    int m_iTag = 0;
};

} // namespace

FMemStorageClass::FMemStorageClass(const FWideString& name) : m_pState(std::make_shared<FMemStorageState>())
{
    m_pState->m_name = name;
    m_pState->m_folders.insert(FWideString());
}

FMemStorageClass::~FMemStorageClass() = default;

FIFile* FMemStorageClass::OpenFile(const FWideString& path, int mode)
{
    std::vector<FWideString> parts = NonEmptyPathParts(path);
    return OpenMemFile(m_pState, KeyOf(parts, parts.size()), mode);
}

FIFolder* FMemStorageClass::OpenFolder(const FWideString& path, FWideString& fileName, bool create)
{
    fileName.Clear();
    std::vector<FWideString> parts = NonEmptyPathParts(path);
    FWideString key = KeyOf(parts, parts.size());
    std::lock_guard lock(m_pState->m_lock);
    if (m_pState->m_folders.count(key))
        return new FMemFolder(m_pState, key);
    if (m_pState->m_files.count(key)) {
        UnescapeURLChars(parts.back(), fileName);
        return new FMemFolder(m_pState, KeyOf(parts, parts.size() - 1));
    }
    if (!create)
        return nullptr;
    MakeFolders(*m_pState, key);
    return new FMemFolder(m_pState, key);
}

bool FMemStorageClass::GetSpecialPath(int, FWideString&)
{
    return false;
}

bool FMemStorageClass::ToNativePath(const FWideString& path, FWideString& native)
{
    native = m_pState->m_name;
    native += u":";
    for (const FWideString& part : NonEmptyPathParts(path)) {
        FWideString name;
        UnescapeURLChars(part, name);
        native += u"/";
        native += name;
    }
    return true;
}

bool FMemStorageClass::FromNativePath(const FWideString& native, FWideString& path)
{
    FWideString prefix = m_pState->m_name;
    prefix += u":";
    if (native.GetLength() < prefix.GetLength() ||
        FWideString::priCompareUnits(native.GetBuffer(), prefix.GetBuffer(), prefix.GetLength()) != 0)
        return false;
    std::vector<FWideString> names = NonEmptyPathParts(FWideString(native.GetBuffer() + prefix.GetLength()));
    path.Clear();
    for (size_t i = 0; i < names.size(); ++i) {
        FWideString part;
        EscapeURLChars(names[i], part);
        if (i > 0)
            path += u"/";
        path += part;
    }
    return true;
}

const char16_t* FMemStorageClass::GetName()
{
    return m_pState->m_name.GetBuffer();
}

const char16_t* FMemStorageClass::GetDescription()
{
    return u"in-memory files for tests";
}

void FMemStorageClass::Launch(const FWideString& path, const char16_t*)
{
    bool isFolder = false;
    if (!Exists(path, isFolder))
        throw FExceptionFileNotFound(path.GetNarrow());
    std::lock_guard lock(m_pState->m_lock);
    m_pState->m_launched.push_back(path);
}

bool FMemStorageClass::Exists(const FWideString& path, bool& isFolder)
{
    std::vector<FWideString> parts = NonEmptyPathParts(path);
    FWideString key = KeyOf(parts, parts.size());
    std::lock_guard lock(m_pState->m_lock);
    if (m_pState->m_folders.count(key)) {
        isFolder = true;
        return true;
    }
    if (m_pState->m_files.count(key)) {
        isFolder = false;
        return true;
    }
    return false;
}

void FMemStorageClass::MoveToTrash(const FWideString& path)
{
    std::vector<FWideString> parts = NonEmptyPathParts(path);
    FWideString key = KeyOf(parts, parts.size());
    std::lock_guard lock(m_pState->m_lock);
    if (!m_pState->m_files.erase(key))
        throw FExceptionFileIO(path.GetNarrow());
    m_pState->m_trashed.push_back(key);
}

void FMemStorageClass::PutFile(const FWideString& path, const std::string& bytes)
{
    std::vector<FWideString> parts = NonEmptyPathParts(path);
    if (parts.empty())
        return;
    std::lock_guard lock(m_pState->m_lock);
    MakeFolders(*m_pState, KeyOf(parts, parts.size() - 1));
    auto data = std::make_shared<FMemFileData>();
    data->m_bytes.assign(bytes.begin(), bytes.end());
    data->m_iModified = ++m_pState->m_iClock;
    m_pState->m_files[KeyOf(parts, parts.size())] = data;
}

bool FMemStorageClass::GetFileBytes(const FWideString& path, std::string& bytes) const
{
    std::vector<FWideString> parts = NonEmptyPathParts(path);
    std::lock_guard lock(m_pState->m_lock);
    auto found = m_pState->m_files.find(KeyOf(parts, parts.size()));
    if (found == m_pState->m_files.end())
        return false;
    bytes.assign(found->second->m_bytes.begin(), found->second->m_bytes.end());
    return true;
}

void FMemStorageClass::MakeFolder(const FWideString& path)
{
    std::vector<FWideString> parts = NonEmptyPathParts(path);
    std::lock_guard lock(m_pState->m_lock);
    MakeFolders(*m_pState, KeyOf(parts, parts.size()));
}

void FMemStorageClass::SetReadFault(int64_t offset)
{
    std::lock_guard lock(m_pState->m_lock);
    m_pState->m_iReadFault = offset;
}

void FMemStorageClass::SetWriteFault(int64_t offset)
{
    std::lock_guard lock(m_pState->m_lock);
    m_pState->m_iWriteFault = offset;
}

void FMemStorageClass::SetWriteFailure(int64_t index, bool lasting)
{
    std::lock_guard lock(m_pState->m_lock);
    m_pState->m_iWriteCount = 0;
    m_pState->m_iFailWrite = index;
    m_pState->m_bFailLasting = lasting;
}

int64_t FMemStorageClass::GetWriteCount() const
{
    std::lock_guard lock(m_pState->m_lock);
    return m_pState->m_iWriteCount;
}

void FMemStorageClass::SetFlushFault(bool fail)
{
    std::lock_guard lock(m_pState->m_lock);
    m_pState->m_bFlushFault = fail;
}

std::vector<FWideString> FMemStorageClass::GetLaunched() const
{
    std::lock_guard lock(m_pState->m_lock);
    return m_pState->m_launched;
}

std::vector<FWideString> FMemStorageClass::GetTrashed() const
{
    std::lock_guard lock(m_pState->m_lock);
    return m_pState->m_trashed;
}

FMemStorageClass* RegisterMemStorageClass(const FWideString& name)
{
    auto* storageClass = new FMemStorageClass(name);
    RegisterStorageClass(name, storageClass);
    return storageClass;
}
