// Sorting of the image file list: keys that end with the file name, a whole sort on the
// heap with deterministic ties, the exact reversal, and placing one entry by walking.
#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "FImageFileList.h"
#include "FImageFileListEntry.h"

void FImageFileList::SetSort(int method, bool reverse)
{
    m_nSortMethod = method;
    m_bReverse = reverse;
    Resort();
}

void FImageFileList::SetSortMethod(int method)
{
    m_nSortMethod = method;
    Resort();
}

void FImageFileList::SetReverseSort(bool reverse)
{
    m_bReverse = reverse;
    Resort();
}

void FImageFileList::Resort()
{
    Sort(m_nSortMethod);
    if (m_bReverse)
        Reverse();
    Refilter();
}

// Keys are compared in the user's locale ignoring case, each transformed once; keys the
// locale calls equal (names that differ in case alone) are ordered by their units, then by
// URL, so every run gives one order and the descending order is its exact reversal.
bool FImageFileList::Sort(int method)
{
    if (m_pHead == nullptr || m_pHead->m_pNext == nullptr)
        return true;
    struct Item {
        std::string collation;
        FImageFileListEntry* entry;
    };
    std::vector<Item> items;
    for (FImageFileListEntry* e = m_pHead; e != nullptr; e = e->m_pNext) {
        e->GetSortKey(method);
        items.push_back({LocaleSortKey(e->m_usSortKey), e});
    }
    std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
        if (const int c = a.collation.compare(b.collation); c != 0)
            return c < 0;
        if (a.entry->m_usSortKey < b.entry->m_usSortKey)
            return true;
        if (b.entry->m_usSortKey < a.entry->m_usSortKey)
            return false;
        return a.entry->m_usURL < b.entry->m_usURL;
    });
    // Rebuilt by hand: Append would count the entries again.
    m_pHead = m_pTail = nullptr;
    for (Item& item : items) {
        FImageFileListEntry* e = item.entry;
        e->m_pPrev = m_pTail;
        e->m_pNext = nullptr;
        if (m_pTail != nullptr)
            m_pTail->m_pNext = e;
        else
            m_pHead = e;
        m_pTail = e;
    }
    return true;
}

void FImageFileList::Reverse()
{
    if (m_pHead == nullptr || m_pHead->m_pNext == nullptr)
        return;
    for (FImageFileListEntry* e = m_pHead; e != nullptr; e = e->m_pPrev)
        std::swap(e->m_pPrev, e->m_pNext);
    std::swap(m_pHead, m_pTail);
}

void FImageFileList::InsertSorted(FImageFileListEntry* entry)
{
    entry->GetSortKey(m_nSortMethod);
    if (!m_bReverse) {
        for (FImageFileListEntry* e = m_pHead; e != nullptr; e = e->m_pNext) {
            if (CompareLocale(entry->m_usSortKey, e->m_usSortKey) <= 0) {
                InsertBefore(entry, e);
                return;
            }
        }
        Append(entry);
        return;
    }
    for (FImageFileListEntry* e = m_pTail; e != nullptr; e = e->m_pPrev) {
        if (CompareLocale(entry->m_usSortKey, e->m_usSortKey) <= 0) {
            InsertAfter(entry, e);
            return;
        }
    }
    InsertAfter(entry, nullptr);
}
