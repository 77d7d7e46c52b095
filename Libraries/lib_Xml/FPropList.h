#pragma once

#include <vector>

#include "FRect.h"
#include "FUiColor.h"
#include "FWideString.h"

class FPropList;

// One name/value pair of a property-tree node.
class FPropPair
{
public:
    FPropPair(const FWideString& name, const FWideString& value);
    FPropPair(const FPropPair&) = delete;
    FPropPair& operator=(const FPropPair&) = delete;

    const FWideString& GetName() const { return m_usName; }
    const FWideString& GetValue() const { return m_usValue; }
    FWideString& GetName() { return m_usName; }
    FWideString& GetValue() { return m_usValue; }
    void SetValue(const FWideString& value) { m_usValue = value; }
    FPropPair* GetNext() const { return m_pNext; }
    FPropPair* GetPrev() const { return m_pPrev; }
    FPropList* GetOwner() const { return m_pOwner; }

    // Inserts a new pair (the source's name, `value`) right after this one.
    bool InsertCopyAfter(const FPropPair* source, const FWideString& value);
    // Inserts copies of the chain that starts at `first`, in order, after this one.
    bool InsertChainAfter(const FPropPair* first);

private:
    friend class FPropList;

    FWideString m_usName;
    FWideString m_usValue;
    FPropPair* m_pPrev = nullptr;
    FPropPair* m_pNext = nullptr;
    FPropList* m_pOwner = nullptr;
};

// A node of a property tree: an element name, a text, ordered name/value pairs and ordered
// children. A node owns its pairs and its children; names and values compare exactly.
class FPropList
{
public:
    // An empty node, appended as the last child of `parent` when it is not null.
    FPropList(FPropList* parent, const FWideString& name);
    FPropList(FPropList* parent, const char* name);
    // Deletes the subtree and the pairs, and unlinks the node from parent and siblings.
    ~FPropList();
    FPropList(const FPropList&) = delete;
    FPropList& operator=(const FPropList&) = delete;

    // Tree walk.
    const FWideString& GetName() const { return m_usName; }
    void SetName(const FWideString& name) { m_usName = name; }
    const FWideString& GetText() const { return m_usText; }
    void SetText(const FWideString& text) { m_usText = text; }
    FPropList* GetParent() const { return m_pParent; }
    FPropList* GetFirstChild() const { return m_pChildren; }
    FPropList* GetNext() const { return m_pNext; }
    FPropList* GetPrev() const { return m_pPrev; }
    FPropPair* GetFirstProp() const { return m_pPropPairs; }
    int GetPropCount() const;
    int GetChildCount() const;
    // The first child with the name, or null.
    FPropList* FindChild(const FWideString& name) const;
    FPropList* FindChild(const char* name) const;

    // Structure.
    FPropList* Clone() const { return CloneInto(nullptr); }
    // A copy of the name, the pairs and the children (not the text) under `parent`.
    FPropList* CloneInto(FPropList* parent) const;
    // Appends a deep copy of `node` (without its text) as the last child.
    FPropList* AppendChild(const FPropList& node) { return node.CloneInto(this); }
    void CopyPropsFrom(const FPropList& other);
    void RemoveNamedDescendants(const FWideString& name);
    void UnwrapNamedDescendants(const FWideString& name);
    // Resolves "xi:define", "xi:ifdef" and "xi:ifndef" in the sibling list that starts at
    // `first`. When `first` itself is a conditional without a parent (a root the caller
    // holds), it is never deleted or replaced: it stays, and only its children are processed.
    static bool ProcessDefines(FPropList* first, const std::vector<FWideString>& defined);
    // Live nodes in the process.
    static int GetPropListCount();

    // Pairs.
    bool AddProp(const FWideString& name, const FWideString& value);
    bool AddProp(const char* name, const char* value);
    FPropPair* FindProp(const FWideString& name) const;
    FPropPair* FindProp(const char* name) const;
    // Unlinks and deletes the pair and nulls the holder; false when it is not this node's.
    bool RemoveProp(FPropPair*& holder);

    // Typed getters: `found` (may be null) is set false first. Malformed values give the
    // default; numbers never depend on the process locale.
    FWideString GetString(const FWideString& name, const FWideString& defaultValue,
                          bool* found = nullptr) const;
    int GetInt(const FWideString& name, int defaultValue, bool* found = nullptr) const;
    double GetFloat(const FWideString& name, double defaultValue, bool* found = nullptr) const;
    FUiColor GetColor(const FWideString& name, const FUiColor& defaultValue, bool* found = nullptr) const;
    bool GetBool(const FWideString& name, bool defaultValue, bool* found = nullptr) const;
    FRect GetRect(const FWideString& name, const FRect& defaultValue, bool* found = nullptr) const;
    void GetPoint(const FWideString& name, int defaultX, int defaultY, int& x, int& y,
                  bool* found = nullptr) const;

    // Setters: every pair with the name gets the value; with none, one is appended.
    void SetString(const FWideString& name, const FWideString& value);
    void SetInt(const FWideString& name, int value);      // "%i"
    void SetFloat(const FWideString& name, double value); // "%.4f"
    void SetBool(const FWideString& name, bool value);    // "T" / "F"

private:
    friend class FPropPair;

    void priLink(FPropList* parent);
    void priUnlink();
    void priAppendPair(FPropPair* pair);
    static FPropList* priReplaceByChildren(FPropList* node);

    FWideString m_usName;
    FWideString m_usText;
    FPropPair* m_pPropPairs = nullptr;
    FPropList* m_pPrev = nullptr;
    FPropList* m_pNext = nullptr;
    FPropList* m_pParent = nullptr;
    FPropList* m_pChildren = nullptr;
    // Kept so that appending, which builds every tree the reader makes, does not walk the siblings.
    FPropList* m_pLastChild = nullptr;
    // The same for pairs: a node read from a file may hold hundreds of thousands.
    FPropPair* m_pLastPair = nullptr;
};

// Deletes the node (with its subtree) when the holder is not null, and nulls the holder.
void DeletePropList(FPropList*& holder);
// Live nodes in the process.
int GetPropListCount();
