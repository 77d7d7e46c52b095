#include "FPropList.h"

#include <atomic>
#include <charconv>
#include <climits>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

#include "FException.h"
#include "FHasProperties.h"

namespace
{

// Nodes are made on loader threads as well as on the interface thread.
std::atomic<int> gLiveNodes{0};

constexpr int kFloatTextLimit = 512;

bool IsBlankOrTab(char16_t u)
{
    return u == u' ' || u == u'\t';
}

bool IsDigit(char16_t u)
{
    return u >= u'0' && u <= u'9';
}

// White space as the C runtime's wide conversion skips it.
bool IsWideSpace(char16_t u)
{
    return u == u' ' || (u >= u'\t' && u <= u'\r');
}

int64_t ClampInt32(int64_t v)
{
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return v;
}

// Decimal digits from `p`; accumulates in 64 bits and stops growing past the 32-bit range.
int64_t ReadDigits(const char16_t*& p)
{
    int64_t v = 0;
    while (IsDigit(*p)) {
        if (v <= INT64_C(1) << 40)
            v = v * 10 + (*p - u'0');
        ++p;
    }
    return v;
}

void SkipBlanks(const char16_t*& p)
{
    while (IsBlankOrTab(*p))
        ++p;
}

int HexDigit(char16_t u)
{
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

FWideString FormatNumber(const char* text, const char* end)
{
    FWideString s;
    s.Assign(text, end - 1);
    return s;
}

const char16_t* const kTrueWords[] = {u"TRUE", u"True", u"T", u"true", u"t",  u"YES", u"Yes",
                                      u"Y",    u"yes",  u"y", u"ON",   u"On", u"on",  u"1"};
const char16_t* const kFalseWords[] = {u"FALSE", u"False", u"F", u"false", u"f",   u"NO",  u"No",
                                       u"N",     u"no",    u"n", u"OFF",   u"Off", u"off", u"0"};

bool IsOneOf(const FWideString& value, const char16_t* const (&words)[14])
{
    for (const char16_t* word : words) {
        if (value == word)
            return true;
    }
    return false;
}

} // namespace

// ---- FPropPair ------------------------------------------------------------------------------

FPropPair::FPropPair(const FWideString& name, const FWideString& value) : m_usName(name), m_usValue(value) {}

bool FPropPair::InsertCopyAfter(const FPropPair* source, const FWideString& value)
{
    if (source == nullptr)
        return false;
    FPropPair* pair = new (std::nothrow) FPropPair(source->m_usName, value);
    if (pair == nullptr)
        return false;
    pair->m_pOwner = m_pOwner;
    pair->m_pPrev = this;
    pair->m_pNext = m_pNext;
    if (m_pNext != nullptr)
        m_pNext->m_pPrev = pair;
    else if (m_pOwner != nullptr)
        m_pOwner->m_pLastPair = pair;
    m_pNext = pair;
    return true;
}

bool FPropPair::InsertChainAfter(const FPropPair* first)
{
    // Snapshot first: the chain may be this very list, which grows as copies go in.
    int count = 0;
    for (const FPropPair* p = first; p != nullptr; p = p->m_pNext)
        ++count;
    std::unique_ptr<const FPropPair*[]> chain(new (std::nothrow) const FPropPair*[count > 0 ? count : 1]);
    if (chain == nullptr)
        return false;
    int i = 0;
    for (const FPropPair* p = first; p != nullptr; p = p->m_pNext)
        chain[i++] = p;
    FPropPair* at = this;
    for (i = 0; i < count; ++i) {
        if (!at->InsertCopyAfter(chain[i], chain[i]->m_usValue))
            return false;
        at = at->m_pNext;
    }
    return true;
}

// ---- FPropList: structure -------------------------------------------------------------------

FPropList::FPropList(FPropList* parent, const FWideString& name) : m_usName(name)
{
    ++gLiveNodes;
    priLink(parent);
}

FPropList::FPropList(FPropList* parent, const char* name) : m_usName(name)
{
    ++gLiveNodes;
    priLink(parent);
}

FPropList::~FPropList()
{
    while (m_pChildren != nullptr)
        delete m_pChildren;
    while (m_pPropPairs != nullptr) {
        FPropPair* next = m_pPropPairs->m_pNext;
        delete m_pPropPairs;
        m_pPropPairs = next;
    }
    m_pLastPair = nullptr;
    priUnlink();
    --gLiveNodes;
}

void FPropList::priLink(FPropList* parent)
{
    m_pParent = parent;
    if (parent == nullptr)
        return;
    FPropList* last = parent->m_pLastChild;
    parent->m_pLastChild = this;
    if (last == nullptr) {
        parent->m_pChildren = this;
        return;
    }
    last->m_pNext = this;
    m_pPrev = last;
}

void FPropList::priUnlink()
{
    if (m_pParent != nullptr && m_pParent->m_pLastChild == this)
        m_pParent->m_pLastChild = m_pPrev;
    if (m_pPrev != nullptr)
        m_pPrev->m_pNext = m_pNext;
    else if (m_pParent != nullptr && m_pParent->m_pChildren == this)
        m_pParent->m_pChildren = m_pNext;
    if (m_pNext != nullptr)
        m_pNext->m_pPrev = m_pPrev;
    m_pPrev = nullptr;
    m_pNext = nullptr;
    m_pParent = nullptr;
}

// Puts the node's children in its place (given its parent), deletes it, and returns the
// first moved child, or the node's next sibling when it had none.
FPropList* FPropList::priReplaceByChildren(FPropList* node)
{
    FPropList* first = node->m_pChildren;
    if (first == nullptr) {
        FPropList* next = node->m_pNext;
        delete node;
        return next;
    }
    FPropList* last = first;
    for (FPropList* c = first; c != nullptr; c = c->m_pNext) {
        c->m_pParent = node->m_pParent;
        last = c;
    }
    first->m_pPrev = node->m_pPrev;
    last->m_pNext = node->m_pNext;
    if (node->m_pPrev != nullptr)
        node->m_pPrev->m_pNext = first;
    else if (node->m_pParent != nullptr)
        node->m_pParent->m_pChildren = first;
    if (node->m_pNext != nullptr)
        node->m_pNext->m_pPrev = last;
    else if (node->m_pParent != nullptr)
        node->m_pParent->m_pLastChild = last;
    node->m_pChildren = nullptr;
    node->m_pLastChild = nullptr;
    node->m_pPrev = nullptr;
    node->m_pNext = nullptr;
    node->m_pParent = nullptr;
    delete node;
    return first;
}

int FPropList::GetPropCount() const
{
    int count = 0;
    for (const FPropPair* p = m_pPropPairs; p != nullptr; p = p->m_pNext)
        ++count;
    return count;
}

int FPropList::GetChildCount() const
{
    int count = 0;
    for (const FPropList* c = m_pChildren; c != nullptr; c = c->m_pNext)
        ++count;
    return count;
}

FPropList* FPropList::FindChild(const FWideString& name) const
{
    for (FPropList* c = m_pChildren; c != nullptr; c = c->m_pNext) {
        if (c->m_usName == name)
            return c;
    }
    return nullptr;
}

FPropList* FPropList::FindChild(const char* name) const
{
    return FindChild(FWideString(name));
}

FPropList* FPropList::CloneInto(FPropList* parent) const
{
    // Built detached, so that a failure part-way leaves nothing behind in `parent`.
    std::unique_ptr<FPropList> clone(new FPropList(nullptr, m_usName));
    clone->CopyPropsFrom(*this);
    for (const FPropList* c = m_pChildren; c != nullptr; c = c->m_pNext)
        c->CloneInto(clone.get());
    FPropList* result = clone.release();
    result->priLink(parent);
    return result;
}

void FPropList::CopyPropsFrom(const FPropList& other)
{
    // Counted first: copying a node into itself must not chase its own new pairs.
    int count = other.GetPropCount();
    for (const FPropPair* p = other.m_pPropPairs; p != nullptr && count > 0; p = p->m_pNext, --count)
        AddProp(p->m_usName, p->m_usValue);
}

void FPropList::RemoveNamedDescendants(const FWideString& name)
{
    FPropList* c = m_pChildren;
    while (c != nullptr) {
        FPropList* next = c->m_pNext;
        if (c->m_usName == name)
            delete c;
        else
            c->RemoveNamedDescendants(name);
        c = next;
    }
}

void FPropList::UnwrapNamedDescendants(const FWideString& name)
{
    FPropList* c = m_pChildren;
    while (c != nullptr) {
        FPropList* next = c->m_pNext;
        if (c->m_usName == name)
            priReplaceByChildren(c); // the moved children are not searched again
        else
            c->UnwrapNamedDescendants(name);
        c = next;
    }
}

bool FPropList::ProcessDefines(FPropList* first, const std::vector<FWideString>& defined)
{
    std::vector<FWideString> local;
    auto isDefined = [&](const FWideString& name) {
        for (const FWideString& d : defined) {
            if (d == name)
                return true;
        }
        for (const FWideString& d : local) {
            if (d == name)
                return true;
        }
        return false;
    };

    FPropList* node = first;
    while (node != nullptr) {
        const FPropPair* namePair = node->FindProp(u"Name");
        const bool isIfdef = node->m_usName == u"xi:ifdef";
        const bool isIfndef = node->m_usName == u"xi:ifndef";
        if (namePair != nullptr && node->m_usName == u"xi:define") {
            local.push_back(namePair->m_usValue);
            node = node->m_pNext;
            continue;
        }
        // The caller's root is never deleted under it.
        const bool pinned = node == first && node->m_pParent == nullptr;
        if (namePair != nullptr && (isIfdef || isIfndef) && !pinned) {
            const bool holds = isDefined(namePair->m_usValue) == isIfdef;
            if (holds) {
                node = priReplaceByChildren(node);
            } else {
                FPropList* next = node->m_pNext;
                delete node;
                node = next;
            }
            continue;
        }
        if (node->m_pChildren != nullptr) {
            std::vector<FWideString> inner(defined);
            inner.insert(inner.end(), local.begin(), local.end());
            ProcessDefines(node->m_pChildren, inner);
        }
        node = node->m_pNext;
    }
    return true;
}

int FPropList::GetPropListCount()
{
    return gLiveNodes.load();
}

int GetPropListCount()
{
    return FPropList::GetPropListCount();
}

void DeletePropList(FPropList*& holder)
{
    delete std::exchange(holder, nullptr);
}

// ---- FPropList: pairs -----------------------------------------------------------------------

void FPropList::priAppendPair(FPropPair* pair)
{
    pair->m_pOwner = this;
    pair->m_pPrev = m_pLastPair;
    if (m_pLastPair == nullptr)
        m_pPropPairs = pair;
    else
        m_pLastPair->m_pNext = pair;
    m_pLastPair = pair;
}

bool FPropList::AddProp(const FWideString& name, const FWideString& value)
{
    FPropPair* pair = nullptr;
    try {
        pair = new FPropPair(name, value);
    } catch (const std::bad_alloc&) {
        return false;
    }
    priAppendPair(pair);
    return true;
}

bool FPropList::AddProp(const char* name, const char* value)
{
    try {
        return AddProp(FWideString(name), FWideString(value));
    } catch (const std::bad_alloc&) {
        return false;
    }
}

FPropPair* FPropList::FindProp(const FWideString& name) const
{
    for (FPropPair* p = m_pPropPairs; p != nullptr; p = p->m_pNext) {
        if (p->m_usName == name)
            return p;
    }
    return nullptr;
}

FPropPair* FPropList::FindProp(const char* name) const
{
    return FindProp(FWideString(name));
}

bool FPropList::RemoveProp(FPropPair*& holder)
{
    FPropPair* pair = holder;
    if (pair == nullptr)
        return false;
    if (pair->m_pOwner != this)
        return false;
    if (pair->m_pPrev == nullptr) {
        if (pair != m_pPropPairs)
            ReportAssertion(__FILE__, __LINE__, "pPropPair == m_pPropPairs", 0, 0);
        m_pPropPairs = pair->m_pNext;
    } else {
        pair->m_pPrev->m_pNext = pair->m_pNext;
    }
    if (pair->m_pNext != nullptr)
        pair->m_pNext->m_pPrev = pair->m_pPrev;
    else
        m_pLastPair = pair->m_pPrev;
    delete pair;
    holder = nullptr;
    return true;
}

// ---- FPropList: typed getters ---------------------------------------------------------------

FWideString FPropList::GetString(const FWideString& name, const FWideString& defaultValue, bool* found) const
{
    if (found != nullptr)
        *found = false;
    const FPropPair* pair = FindProp(name);
    if (pair == nullptr)
        return defaultValue;
    if (found != nullptr)
        *found = true;
    return pair->m_usValue;
}

int FPropList::GetInt(const FWideString& name, int defaultValue, bool* found) const
{
    if (found != nullptr)
        *found = false;
    const FPropPair* pair = FindProp(name);
    if (pair == nullptr || pair->m_usValue.IsEmpty())
        return defaultValue;
    if (found != nullptr)
        *found = true;
    // Leading white space, a sign, digits up to the first other unit; limited to 32 bits.
    const char16_t* p = pair->m_usValue.GetBuffer();
    while (IsWideSpace(*p))
        ++p;
    bool negative = false;
    if (*p == u'+' || *p == u'-') {
        negative = *p == u'-';
        ++p;
    }
    const int64_t magnitude = ReadDigits(p);
    return static_cast<int>(ClampInt32(negative ? -magnitude : magnitude));
}

double FPropList::GetFloat(const FWideString& name, double defaultValue, bool* found) const
{
    if (found != nullptr)
        *found = false;
    const FPropPair* pair = FindProp(name);
    if (pair == nullptr || pair->m_usValue.IsEmpty())
        return defaultValue;
    if (found != nullptr)
        *found = true;
    char text[kFloatTextLimit];
    WideToAscii(pair->m_usValue.GetBuffer(), text, kFloatTextLimit);
    double value = 0;
    if (!ReadLeadingDouble(text, value))
        return 0.0; // as atof: no number reads as 0
    return value;
}

FUiColor FPropList::GetColor(const FWideString& name, const FUiColor& defaultValue, bool* found) const
{
    if (found != nullptr)
        *found = false;
    const FPropPair* pair = FindProp(name);
    if (pair == nullptr)
        return defaultValue;
    const FWideString& v = pair->m_usValue;
    const int length = v.GetLength();
    if ((length != 7 && length != 9) || v.GetBuffer()[0] != u'#')
        return defaultValue;
    uint8_t bytes[4] = {0, 0, 0, 255};
    for (int i = 0; i < (length - 1) / 2; ++i) {
        const int hi = HexDigit(v.GetBuffer()[1 + 2 * i]);
        const int lo = HexDigit(v.GetBuffer()[2 + 2 * i]);
        if (hi < 0 || lo < 0)
            return defaultValue;
        bytes[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    if (found != nullptr)
        *found = true;
    return FUiColor(bytes[0], bytes[1], bytes[2], bytes[3]);
}

bool FPropList::GetBool(const FWideString& name, bool defaultValue, bool* found) const
{
    if (found != nullptr)
        *found = false;
    const FPropPair* pair = FindProp(name);
    if (pair == nullptr)
        return defaultValue;
    if (found != nullptr)
        *found = true;
    if (IsOneOf(pair->m_usValue, kTrueWords))
        return true;
    if (IsOneOf(pair->m_usValue, kFalseWords))
        return false;
    return defaultValue;
}

FRect FPropList::GetRect(const FWideString& name, const FRect& defaultValue, bool* found) const
{
    if (found != nullptr)
        *found = false;
    const FPropPair* pair = FindProp(name);
    if (pair == nullptr)
        return defaultValue;
    const char16_t* p = pair->m_usValue.GetBuffer();
    int64_t n[4] = {0, 0, 0, 0};
    for (int i = 0; i < 4; ++i) {
        SkipBlanks(p);
        // Kept below the 32-bit limit so that the exclusive edge still fits.
        n[i] = std::min<int64_t>(ReadDigits(p), INT32_MAX - 1);
        if (i == 3)
            break;
        SkipBlanks(p);
        if (*p != u',')
            return defaultValue;
        ++p;
    }
    if (found != nullptr)
        *found = true;
    return FRect(static_cast<int32_t>(n[0]), static_cast<int32_t>(n[1]), static_cast<int32_t>(n[2] + 1),
                 static_cast<int32_t>(n[3] + 1));
}

void FPropList::GetPoint(const FWideString& name, int defaultX, int defaultY, int& x, int& y,
                         bool* found) const
{
    if (found != nullptr)
        *found = false;
    x = defaultX;
    y = defaultY;
    const FPropPair* pair = FindProp(name);
    if (pair == nullptr)
        return;
    const char16_t* p = pair->m_usValue.GetBuffer();
    int64_t n[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        SkipBlanks(p);
        bool negative = false;
        if (*p == u'-' || *p == u'+') {
            negative = *p == u'-';
            ++p;
        }
        const int64_t magnitude = ReadDigits(p);
        n[i] = ClampInt32(negative ? -magnitude : magnitude);
        if (i == 1)
            break;
        SkipBlanks(p);
        if (*p != u',')
            return;
        ++p;
    }
    x = static_cast<int>(n[0]);
    y = static_cast<int>(n[1]);
    if (found != nullptr)
        *found = true;
}

// ---- FPropList: setters ---------------------------------------------------------------------

void FPropList::SetString(const FWideString& name, const FWideString& value)
{
    bool any = false;
    for (FPropPair* p = m_pPropPairs; p != nullptr; p = p->m_pNext) {
        if (p->m_usName == name) {
            p->m_usValue = value;
            any = true;
        }
    }
    if (!any)
        AddProp(name, value);
}

void FPropList::SetInt(const FWideString& name, int value)
{
    char text[16];
    const auto r = std::to_chars(text, text + sizeof text, value);
    SetString(name, FormatNumber(text, r.ptr));
}

void FPropList::SetFloat(const FWideString& name, double value)
{
    // Fixed with four decimals, as "%.4f" in the C locale, whatever the process locale.
    char text[400];
    const auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 4);
    SetString(name, FormatNumber(text, r.ptr));
}

void FPropList::SetBool(const FWideString& name, bool value)
{
    SetString(name, FWideString(value ? "T" : "F"));
}
