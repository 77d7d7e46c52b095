#pragma once

#include <map>

#include "FNarrowString.h"

// Orders keys byte by byte as unsigned values, so "Rows" sorts before "rows".
struct FNarrowStringLess {
    bool operator()(const FNarrowString& a, const FNarrowString& b) const
    {
        return a.Compare(b.GetCString()) < 0;
    }
};

// Reads the number at the start of `text` as the C library's "%lf" does in the C locale
// (leading white space, sign, decimal or hexadecimal, inf and nan), whatever the process
// locale. False when the text does not begin with a number.
bool ReadLeadingDouble(const char* text, double& value);

using FPropertyMap = std::map<FNarrowString, FNarrowString, FNarrowStringLess>;

// Walks the entries of one property map in key order.
class FPropertyIterator
{
public:
    FPropertyIterator(FPropertyMap::const_iterator current, FPropertyMap::const_iterator end)
        : m_current(current), m_end(end)
    {
    }

    // Advances; true while not at the end.
    bool Next();
    bool AtEnd() const { return m_current == m_end; }
    // The texts of the current entry; at the end they throw FExceptionEndOfList.
    const char* GetKey() const;
    const char* GetValue() const;

private:
    FPropertyMap::const_iterator m_current;
    FPropertyMap::const_iterator m_end;
};

// A map of named text properties with unique keys.
class FHasProperties
{
public:
    FHasProperties() = default;
    FHasProperties(const FHasProperties& other) = default;
    // Clears, then inserts every entry of the source.
    FHasProperties& operator=(const FHasProperties& other);
    virtual ~FHasProperties() = default;

    // The value of the key, or `defaultValue` itself when the key is absent.
    const char* GetString(const char* name, const char* defaultValue) const;
    // Absent: the default. Present: the leading number of the value, read in the C locale;
    // a value without one throws FExceptionConversion naming the value.
    double GetFloat(const char* name, double defaultValue) const;
    bool Has(const char* name) const;
    // True when the key was present.
    bool Remove(const char* name);
    // Adds the key or replaces its value.
    void SetString(const char* name, const char* value);
    FPropertyIterator GetIterator() const { return FPropertyIterator(m_map.begin(), m_map.end()); }
    int GetCount() const { return static_cast<int>(m_map.size()); }
    void ClearProperties() { m_map.clear(); }

    // The map itself, for code that owns the properties.
    FPropertyMap& GetPropertyMap() { return m_map; }
    const FPropertyMap& GetPropertyMap() const { return m_map; }

private:
    FPropertyMap m_map;
};
