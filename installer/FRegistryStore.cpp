#include "FRegistryStore.h"

#include <algorithm>
#include <string>

#include "FCodePage.h"
#include "FException.h"
#include "FIStorageClass.h"
#include "InstallerPaths.h"
#include "StorageClassRegistry.h"

namespace
{

const char* const kRoots[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS",
                              "HKEY_CURRENT_CONFIG"};
const char* const kStoreName = "Registry.tsv";
// The store is small; anything larger is not ours.
constexpr uint64_t kMaxStoreBytes = 16u << 20;

bool SameKey(const FWideString& a, const FWideString& b)
{
    return a.GetLength() == b.GetLength() && a.CompareNoCase(b.GetBuffer()) == 0;
}

// `key` is `parent` or lies below it.
bool IsKeyBelow(const FWideString& key, const FWideString& parent)
{
    if (SameKey(key, parent))
        return true;
    const int n = parent.GetLength();
    if (key.GetLength() <= n || key.GetBuffer()[n] != u'\\')
        return false;
    return SameKey(FWideString(key.GetBuffer(), key.GetBuffer() + n - 1), parent);
}

FIRegistryStore* g_pStore = nullptr;

} // namespace

bool FMemoryRegistryStore::IsRootName(const FWideString& root)
{
    return std::any_of(std::begin(kRoots), std::end(kRoots), [&](const char* name) { return root == name; });
}

FWideString FMemoryRegistryStore::NormalKey(const FWideString& key)
{
    std::u16string out;
    for (int i = 0; i < key.GetLength(); ++i) {
        char16_t c = key.GetBuffer()[i];
        if (c == u'/')
            c = u'\\';
        if (c == u'\\' && (out.empty() || out.back() == u'\\'))
            continue;
        out.push_back(c);
    }
    while (!out.empty() && out.back() == u'\\')
        out.pop_back();
    return FWideString(out.c_str());
}

ERegistryRead FMemoryRegistryStore::Read(const FWideString& root, const FWideString& key,
                                         const FWideString& name, FWideString& data)
{
    const FWideString path = NormalKey(key);
    bool keyFound = false;
    for (const Value& value : m_values) {
        if (!(value.root == root) || !IsKeyBelow(value.key, path))
            continue;
        keyFound = true;
        if (SameKey(value.key, path) && SameKey(value.name, name)) {
            data = value.data;
            return ERegistryRead::kFound;
        }
    }
    return keyFound ? ERegistryRead::kValueMissing : ERegistryRead::kKeyMissing;
}

ERegistryWrite FMemoryRegistryStore::Write(const FWideString& root, const FWideString& key,
                                           const FWideString& name, const FWideString& data,
                                           const FWideString& typeName)
{
    const FWideString path = NormalKey(key);
    if (!IsRootName(root) || path.IsEmpty())
        return ERegistryWrite::kRefused;
    if (m_bDenyWrites)
        return ERegistryWrite::kAccessDenied;
    for (Value& value : m_values) {
        if (value.root == root && SameKey(value.key, path) && SameKey(value.name, name)) {
            value.data = data;
            value.type = typeName;
            return ERegistryWrite::kOk;
        }
    }
    m_values.push_back(Value{root, path, name, typeName, data});
    return ERegistryWrite::kOk;
}

void FMemoryRegistryStore::DeleteValue(const FWideString& root, const FWideString& key,
                                       const FWideString& name)
{
    const FWideString path = NormalKey(key);
    if (path.IsEmpty())
        return;
    m_values.erase(std::remove_if(m_values.begin(), m_values.end(),
                                  [&](const Value& value) {
                                      return value.root == root && SameKey(value.key, path) &&
                                             SameKey(value.name, name);
                                  }),
                   m_values.end());
}

void FMemoryRegistryStore::DeleteTree(const FWideString& root, const FWideString& key)
{
    const FWideString path = NormalKey(key);
    // An empty path would be the whole root.
    if (path.IsEmpty())
        return;
    m_values.erase(
        std::remove_if(m_values.begin(), m_values.end(),
                       [&](const Value& value) { return value.root == root && IsKeyBelow(value.key, path); }),
        m_values.end());
}

std::string FFileRegistryStore::EncodeField(const FWideString& text)
{
    std::string out;
    for (char c : Utf8FromWide(text)) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

FWideString FFileRegistryStore::DecodeField(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[++i];
        out += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return WideFromUtf8(out);
}

bool FFileRegistryStore::priLoad(FMemoryRegistryStore& values)
{
    FIFolder* folder = OpenExistingFolder(MakerFolderUrl());
    if (!folder)
        return true;
    FIFile* file = folder->OpenFile(FWideString(kStoreName), kFileRead);
    folder->Release();
    if (!file)
        return true;
    std::string bytes;
    bool ok = file->GetSize() <= kMaxStoreBytes;
    if (ok) {
        bytes.resize(static_cast<size_t>(file->GetSize()));
        size_t got = 0;
        while (got < bytes.size()) {
            const int some = file->ReadSome(bytes.data() + got, static_cast<int>(bytes.size() - got));
            if (some <= 0)
                break;
            got += static_cast<size_t>(some);
        }
        ok = got == bytes.size();
    }
    file->Release();
    if (!ok)
        return false;
    std::vector<FMemoryRegistryStore::Value> list;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        const std::string line = bytes.substr(start, end - start);
        start = end + 1;
        std::vector<std::string> fields;
        size_t from = 0;
        for (size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
            fields.push_back(line.substr(from, tab - from));
        fields.push_back(line.substr(from));
        // A line of another shape is not ours to keep.
        if (fields.size() != 5)
            continue;
        list.push_back({DecodeField(fields[0]), DecodeField(fields[1]), DecodeField(fields[2]),
                        DecodeField(fields[3]), DecodeField(fields[4])});
    }
    values.SetValues(std::move(list));
    return true;
}

bool FFileRegistryStore::priSave(const FMemoryRegistryStore& values)
{
    FIFolder* folder = OpenOrCreateFolder(MakerFolderUrl());
    if (!folder)
        return false;
    const FWideString name(kStoreName);
    bool ok = true;
    if (values.GetValues().empty()) {
        ok = folder->DeleteFile(name);
        folder->Release();
        return ok;
    }
    std::string bytes;
    for (const FMemoryRegistryStore::Value& value : values.GetValues())
        bytes += EncodeField(value.root) + "\t" + EncodeField(value.key) + "\t" + EncodeField(value.name) +
                 "\t" + EncodeField(value.type) + "\t" + EncodeField(value.data) + "\n";
    FWideString tempName;
    FIFile* temp = folder->CreateTempFile(FWideString(".registry-"), tempName);
    if (!temp) {
        folder->Release();
        return false;
    }
    try {
        temp->Write(bytes.data(), static_cast<int>(bytes.size()));
        temp->Flush();
        temp->Release();
        temp = nullptr;
        folder->ReplaceFile(tempName, name);
    } catch (const FException&) {
        if (temp)
            temp->Release();
        folder->DeleteFile(tempName);
        ok = false;
    }
    folder->Release();
    return ok;
}

ERegistryRead FFileRegistryStore::Read(const FWideString& root, const FWideString& key,
                                       const FWideString& name, FWideString& data)
{
    FMemoryRegistryStore values;
    if (!priLoad(values))
        return ERegistryRead::kKeyMissing;
    return values.Read(root, key, name, data);
}

ERegistryWrite FFileRegistryStore::Write(const FWideString& root, const FWideString& key,
                                         const FWideString& name, const FWideString& data,
                                         const FWideString& typeName)
{
    FMemoryRegistryStore values;
    if (!priLoad(values))
        return ERegistryWrite::kFailed;
    const ERegistryWrite result = values.Write(root, key, name, data, typeName);
    if (result != ERegistryWrite::kOk)
        return result;
    return priSave(values) ? ERegistryWrite::kOk : ERegistryWrite::kAccessDenied;
}

void FFileRegistryStore::DeleteValue(const FWideString& root, const FWideString& key, const FWideString& name)
{
    FMemoryRegistryStore values;
    if (!priLoad(values))
        return;
    const size_t before = values.GetValues().size();
    values.DeleteValue(root, key, name);
    if (values.GetValues().size() != before)
        priSave(values);
}

void FFileRegistryStore::DeleteTree(const FWideString& root, const FWideString& key)
{
    FMemoryRegistryStore values;
    if (!priLoad(values))
        return;
    const size_t before = values.GetValues().size();
    values.DeleteTree(root, key);
    if (values.GetValues().size() != before)
        priSave(values);
}

FIRegistryStore& GetRegistryStore()
{
    static FFileRegistryStore fileStore;
    return g_pStore ? *g_pStore : fileStore;
}

void SetRegistryStore(FIRegistryStore* store)
{
    g_pStore = store;
}
