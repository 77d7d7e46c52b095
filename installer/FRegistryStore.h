#pragma once

// The store that stands in for the system registry: values under a root name
// and a key path, found ignoring ASCII case, with "\" between key names. Keys
// exist while they hold values. Only the five root names of the registry are
// accepted, and never an empty key path.

#include <vector>

#include "FWideString.h"

enum class ERegistryRead {
    kFound,
    kKeyMissing,
    kValueMissing,
};

enum class ERegistryWrite {
    kOk,
    kRefused,      // an unknown root or an empty key path
    kAccessDenied, // the store cannot be changed
    kFailed,
};

class FIRegistryStore
{
public:
    virtual ~FIRegistryStore() = default;
    virtual ERegistryRead Read(const FWideString& root, const FWideString& key, const FWideString& name,
                               FWideString& data) = 0;
    virtual ERegistryWrite Write(const FWideString& root, const FWideString& key, const FWideString& name,
                                 const FWideString& data, const FWideString& typeName) = 0;
    virtual void DeleteValue(const FWideString& root, const FWideString& key, const FWideString& name) = 0;
    // The key with every value and key below it.
    virtual void DeleteTree(const FWideString& root, const FWideString& key) = 0;
};

// The values in memory; tests can make every change fail.
class FMemoryRegistryStore : public FIRegistryStore
{
public:
    struct Value {
        FWideString root;
        FWideString key;
        FWideString name;
        FWideString type;
        FWideString data;
    };

    ERegistryRead Read(const FWideString& root, const FWideString& key, const FWideString& name,
                       FWideString& data) override;
    ERegistryWrite Write(const FWideString& root, const FWideString& key, const FWideString& name,
                         const FWideString& data, const FWideString& typeName) override;
    void DeleteValue(const FWideString& root, const FWideString& key, const FWideString& name) override;
    void DeleteTree(const FWideString& root, const FWideString& key) override;

    const std::vector<Value>& GetValues() const { return m_values; }
    void SetValues(std::vector<Value> values) { m_values = std::move(values); }
    void SetDenyWrites(bool deny) { m_bDenyWrites = deny; }

    static bool IsRootName(const FWideString& root);
    // Separators as "\", none doubled, none at either end.
    static FWideString NormalKey(const FWideString& key);

private:
    std::vector<Value> m_values;
    bool m_bDenyWrites = false;
};

// The product's store: one file per user, "Registry.tsv" in the maker folder,
// a line per value, replaced whole on every change and removed once empty.
class FFileRegistryStore : public FIRegistryStore
{
public:
    ERegistryRead Read(const FWideString& root, const FWideString& key, const FWideString& name,
                       FWideString& data) override;
    ERegistryWrite Write(const FWideString& root, const FWideString& key, const FWideString& name,
                         const FWideString& data, const FWideString& typeName) override;
    void DeleteValue(const FWideString& root, const FWideString& key, const FWideString& name) override;
    void DeleteTree(const FWideString& root, const FWideString& key) override;

    // The lines' text escapes, "\\", "\t" and "\n".
    static std::string EncodeField(const FWideString& text);
    static FWideString DecodeField(const std::string& text);

private:
    bool priLoad(FMemoryRegistryStore& values);
    bool priSave(const FMemoryRegistryStore& values);
};

// The store in use; the file store unless another was set.
FIRegistryStore& GetRegistryStore();
// Null puts the file store back. The caller keeps ownership.
void SetRegistryStore(FIRegistryStore* store);
