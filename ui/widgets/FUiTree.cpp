#include "FUiTree.h"

#include <algorithm>

#include "FException.h"
#include "FGenericUiWindow.h"
#include "FIGenericUiPixmap.h"
#include "FIUiApp.h"
#include "FIUiPixmap.h"
#include "FPropList.h"
#include "FUiFont.h"
#include "FUiWidgets.h"
#include "StorageClassRegistry.h"

namespace
{

class FUiTreeCreator final : public FUiWidgetCreator<FUiTree>
{
};

constexpr uint16_t kKeyEnter = 13;
constexpr uint16_t kKeyUp = 14;
constexpr uint16_t kKeyDown = 19;
constexpr uint16_t kKeyRight = 145;
constexpr uint16_t kKeyLeft = 146;

const char16_t kNoName[] = u"GOT-NO-DIR-NAME!";

// Storage classes report failures as exceptions; a folder that cannot be
// read counts as empty rather than ending the listing of its siblings.
void ListFolderNames(FIFolder* folder, std::vector<FWideString>& names)
{
    try {
        folder->ListFolders(names);
    } catch (const FException&) {
        names.clear();
    } catch (const std::exception&) {
        names.clear();
    }
}

FIFolder* OpenURLQuietly(const FWideString& url)
{
    try {
        FWideString name;
        return OpenFolderURL(url, name, false);
    } catch (const FException&) {
        return nullptr;
    } catch (const std::exception&) {
        return nullptr;
    }
}

FIFolder* OpenSubQuietly(FIFolder* folder, const FWideString& name)
{
    try {
        return folder->OpenSubFolder(name, false);
    } catch (const FException&) {
        return nullptr;
    } catch (const std::exception&) {
        return nullptr;
    }
}

bool NameBefore(const FWideString& a, const FWideString& b)
{
    const int order = CompareLocale(a, b);
    if (order == -2 || order == 0) {
        const int folded = a.CompareNoCase(b.GetBuffer());
        if (folded != 0)
            return folded < 0;
        return a < b;
    }
    return order < 0;
}

void DrawAt(FIUiPixmap* picture, FIUiPixmap* target, int x, int y, const FRect& clip)
{
    if (!picture)
        return;
    const FRect destination(x, y, x + picture->GetWidth(), y + picture->GetHeight());
    DrawWidgetPicture(picture, target, destination, clip);
}

} // namespace

bool RegisterUiTree(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiTreeCreator>(factory, "DIRTREE");
}

// ---- Nodes ----

FUiTreeNode::FUiTreeNode(FUiTree* ownerTree, const FWideString& nodeURL, const FWideString& nodeLabel,
                         int nodeDepth)
    : owner(ownerTree), url(nodeURL), depth(nodeDepth), label(nodeLabel)
{
}

FUiTreeNode::~FUiTreeNode()
{
    Clear();
}

FIFolder* FUiTreeNode::GetFolder()
{
    if (!folder)
        folder = OpenURLQuietly(url);
    return folder;
}

void FUiTreeNode::ReadInfo()
{
    if (FIFolder* opened = GetFolder()) {
        int drive = 0;
        try {
            drive = opened->GetDriveType();
        } catch (const FException&) {
        }
        remote = drive == kDriveRemote;
        cdRom = drive == kDriveCdRom;
        removable = drive == kDriveRemovable;
        int flags = 0;
        bool known = false;
        try {
            known = opened->GetAttributes(flags);
        } catch (const FException&) {
        }
        if (known) {
            hidden = (flags & kFileAttrHidden) != 0;
            readOnly = (flags & kFileAttrReadOnly) != 0;
        }
    }
    infoRead = true;
}

void FUiTreeNode::Clear()
{
    if (folder) {
        folder->Release();
        folder = nullptr;
    }
    ReleaseUiPixmap(textPixmap);
    DeleteChildren(nullptr);
}

bool FUiTreeNode::DeleteChildren(const FUiTreeNode* watched)
{
    bool found = false;
    FUiTreeNode* child = firstChild;
    firstChild = nullptr;
    while (child) {
        FUiTreeNode* following = child->next;
        if (watched && (child == watched || watched->IsBelow(child)))
            found = true;
        delete child;
        child = following;
    }
    return found;
}

bool FUiTreeNode::IsBelow(const FUiTreeNode* ancestor) const
{
    for (const FUiTreeNode* up = parent; up; up = up->parent) {
        if (up == ancestor)
            return true;
    }
    return false;
}

// ---- The tree ----

FUiTree::FUiTree(const char* typeName) : FUiObject(typeName)
{
    m_pSizeChanged = AddEvent(FWideString("SIZECHANGED"));
    m_pOnDirSelected = AddEvent(FWideString("ON_DIRSELECTED"));
    m_pOnCopyFile = AddEvent(FWideString("ON_COPY_FILE"));
}

FUiTree::~FUiTree()
{
    m_pSelected = nullptr;
    delete m_pRoot;
    delete m_pVBar;
    delete m_pHBar;
    for (FIUiPixmap** icon : {&m_pDiskIcon, &m_pRemovableIcon, &m_pCdRomIcon, &m_pFolderIcon,
                              &m_pOpenFolderIcon, &m_pIsOpenIcon, &m_pIsClosedIcon})
        ReleaseUiPixmap(*icon);
}

bool FUiTree::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    FUiObject::InitUiObject(app, window, parent, tag);
    if (!app || !tag)
        return false;
    m_pAppFont = UseWidgetAppFont(app, this, tag);
    m_font.Read(tag);
    FRequiredWidgetKeys keys(tag);
    keys.Layout(m_iMinHSize, m_iMinVSize, m_iHStretch, m_iVStretch);
    const FUiColor black{0, 0, 0, 255};
    m_selectedFontColor = keys.Color("SelectedFontColor", black);
    m_selectedBgColor = keys.Color("SelectedBgColor", black);
    m_disabledFontColor = keys.Color("DisabledFontColor", black);
    m_lowerLeftColor = keys.Color("LowerLeftColor", black);
    if (!keys.AllFound())
        return false;

    const std::pair<const char*, FIUiPixmap**> icons[] = {
        {"File_DiskIcon", &m_pDiskIcon},
        {"File_RemovableDiskIcon", &m_pRemovableIcon},
        {"File_CDRomIcon", &m_pCdRomIcon},
        {"File_FolderIcon", &m_pFolderIcon},
        {"File_OpenFolderIcon", &m_pOpenFolderIcon},
        {"File_IsClosedIcon", &m_pIsClosedIcon},
        {"File_IsOpenIcon", &m_pIsOpenIcon},
    };
    for (const auto& [key, holder] : icons) {
        bool loaded = false;
        *holder = LoadPixmapFromTag(tag, key, &loaded);
        if (!loaded)
            return false; // the destructor releases what was loaded
    }

    FPropList* vTag = tag->FindChild("VSCROLLBAR");
    FPropList* hTag = tag->FindChild("HSCROLLBAR");
    m_pVBar = vTag ? CreateChildWidget(this, vTag) : nullptr;
    m_pHBar = hTag ? CreateChildWidget(this, hTag) : nullptr;
    if (!m_pVBar)
        return false;
    m_pVBar->AddEventTarget(FWideString("ON_SCROLL"), FWideString("VScroll"), this);
    if (m_pHBar)
        m_pHBar->AddEventTarget(FWideString("ON_SCROLL"), FWideString("HScroll"), this);

    int lineHeight = 0;
    int averageWidth = 0;
    if (m_pAppFont)
        m_pAppFont->GetFontMetrics(nullptr, lineHeight, averageWidth);
    else
        MeasureUiText(m_font.face.GetBuffer(), m_font.size, m_font.bold, m_font.italic, m_font.underline,
                      &lineHeight, &averageWidth);
    m_iCell = std::max({m_pDiskIcon->GetWidth(), m_pFolderIcon->GetWidth(), m_pDiskIcon->GetHeight(),
                        m_pFolderIcon->GetHeight(), averageWidth, lineHeight, 1});
    m_iHMargin = 2;
    m_iVMargin = 0;
    SetWidgetLayout(m_hLayout, SaturatedSize(static_cast<long long>(m_iMinHSize) + 1), m_iHStretch);
    SetWidgetLayout(m_vLayout, m_iMinVSize, m_iVStretch);

    // A script may root the tree at any folder; the volumes are the default.
    m_usRootURL = tag->GetString("_RootURL", FWideString("disk://"));
    return priCreateRoot();
}

bool FUiTree::ConnectRelays()
{
    bool all = FUiObject::ConnectRelays();
    if (m_pVBar)
        all = m_pVBar->ConnectRelays() && all;
    if (m_pHBar)
        all = m_pHBar->ConnectRelays() && all;
    return all;
}

// ---- Nodes and listing ----

void FUiTree::SetVolumeIcons(FUiTreeNode* node) const
{
    FIUiPixmap* icon = node->removable ? m_pRemovableIcon : (node->cdRom ? m_pCdRomIcon : m_pDiskIcon);
    node->icon = icon;
    node->selectedIcon = icon;
}

void FUiTree::SetFolderIcons(FUiTreeNode* node) const
{
    node->icon = m_pFolderIcon;
    node->selectedIcon = m_pOpenFolderIcon;
}

FUiTreeNode* FUiTree::priNewChild(const FWideString& url, const FWideString& label, FUiTreeNode* parent)
{
    FUiTreeNode* child = new FUiTreeNode(this, url, label, parent->depth + 1);
    child->parent = parent;
    if (child->depth == 1) {
        child->ReadInfo();
        SetVolumeIcons(child);
    } else {
        SetFolderIcons(child);
    }
    return child;
}

bool FUiTree::priCreateRoot()
{
    m_pRoot = new FUiTreeNode(this, m_usRootURL, FWideString(), 0);
    if (FIFolder* folder = m_pRoot->GetFolder()) {
        const FWideString url = folder->GetURL();
        if (!url.IsEmpty())
            m_pRoot->url = url;
    }
    std::vector<FWideString> parts;
    SplitURL(m_pRoot->url, parts);
    m_iRootParts = std::max<int>(1, static_cast<int>(parts.size()));
    m_pRoot->ReadInfo();
    SetVolumeIcons(m_pRoot);
    priListChildren(m_pRoot);
    priListGrandChildren(m_pRoot);
    return true;
}

void FUiTree::priChildURLAndLabel(FUiTreeNode* node, const FWideString& name, FWideString& url,
                                  FWideString& label) const
{
    // Below a bare scheme root the names are volume tokens, already URL parts;
    // everywhere else they are the folders' own names.
    std::vector<FWideString> parts;
    SplitURL(node->url, parts);
    if (parts.empty())
        parts.push_back(node->url);
    FWideString part;
    if (node->depth == 0 && m_iRootParts == 1) {
        part = name;
        UnescapeURLChars(name, label);
    } else {
        EscapeURLChars(name, part);
        label = name;
    }
    parts.push_back(part);
    JoinURL(parts, url, true);
}

bool FUiTree::priReadNames(FUiTreeNode* node, std::vector<FWideString>& names)
{
    names.clear();
    FIFolder* folder = node->GetFolder();
    if (!folder)
        return false;
    ListFolderNames(folder, names);
    std::stable_sort(names.begin(), names.end(), NameBefore);
    return true;
}

void FUiTree::priDeleteChildren(FUiTreeNode* node)
{
    if (node->DeleteChildren(m_pSelected)) {
        m_pSelected = nullptr;
        priSelect(nullptr);
    }
}

void FUiTree::priUnlinkAndDelete(FUiTreeNode* node)
{
    const bool hadSelection = m_pSelected && (m_pSelected == node || m_pSelected->IsBelow(node));
    if (node->prev)
        node->prev->next = node->next;
    else if (node->parent)
        node->parent->firstChild = node->next;
    if (node->next)
        node->next->prev = node->prev;
    node->next = nullptr;
    node->prev = nullptr;
    delete node;
    if (hadSelection) {
        m_pSelected = nullptr;
        priSelect(nullptr);
    }
}

void FUiTree::priInsertBefore(FUiTreeNode* parent, FUiTreeNode* before, FUiTreeNode* child)
{
    child->parent = parent;
    if (!before) {
        FUiTreeNode* last = parent->firstChild;
        while (last && last->next)
            last = last->next;
        child->prev = last;
        child->next = nullptr;
        if (last)
            last->next = child;
        else
            parent->firstChild = child;
        return;
    }
    child->next = before;
    child->prev = before->prev;
    if (before->prev)
        before->prev->next = child;
    else
        parent->firstChild = child;
    before->prev = child;
}

void FUiTree::priListChildren(FUiTreeNode* node)
{
    priDeleteChildren(node);
    node->listed = false;
    node->expandable = true;
    std::vector<FWideString> names;
    if (!priReadNames(node, names))
        return;
    if (node->depth > 0 && !node->infoRead)
        node->ReadInfo();
    const bool quick = node->depth > 0 && (node->remote || node->removable);
    bool any = false;
    FUiTreeNode* last = nullptr;
    for (const FWideString& name : names) {
        FWideString url, label;
        priChildURLAndLabel(node, name, url, label);
        FUiTreeNode* child;
        if (node->depth == 0 || quick) {
            child = priNewChild(url, label, node);
        } else {
            child = new FUiTreeNode(this, url, label, node->depth + 1);
            child->parent = node;
            SetFolderIcons(child);
            child->ReadInfo();
            if (child->hidden) {
                delete child;
                continue;
            }
        }
        // Appended after the last one made: long listings stay linear.
        child->parent = node;
        child->prev = last;
        (last ? last->next : node->firstChild) = child;
        last = child;
        any = true;
    }
    node->listed = true;
    node->expandable = any;
}

void FUiTree::priListGrandChildren(FUiTreeNode* node)
{
    if (node->depth > 0 && !node->infoRead)
        node->ReadInfo();
    if (node->depth > 0 && (node->remote || node->removable))
        return;
    for (FUiTreeNode* child = node->firstChild; child; child = child->next) {
        if (child->listed)
            continue;
        if (!child->infoRead)
            child->ReadInfo();
        if (!child->remote && !child->removable)
            priListChildren(child);
    }
}

void FUiTree::priMergeChildren(FUiTreeNode* node, bool skip)
{
    std::vector<FWideString> names;
    if (!priReadNames(node, names))
        return;
    if (names.empty()) {
        const bool had = node->firstChild != nullptr;
        priDeleteChildren(node);
        if (had)
            node->listed = false;
        node->expandable = true;
        return;
    }
    FUiTreeNode* current = node->firstChild;
    for (const FWideString& name : names) {
        FWideString url, label;
        priChildURLAndLabel(node, name, url, label);
        if (node != m_pRoot) {
            bool hidden = false;
            if (FIFolder* sub = OpenSubQuietly(node->GetFolder(), name)) {
                int flags = 0;
                try {
                    if (sub->GetAttributes(flags))
                        hidden = (flags & kFileAttrHidden) != 0;
                } catch (const FException&) {
                }
                sub->Release();
            }
            // A name that cannot be opened counts as not hidden.
            if (hidden)
                continue;
        }
        if (!current) {
            FUiTreeNode* child = priNewChild(url, label, node);
            priInsertBefore(node, nullptr, child);
            if (!child->infoRead)
                child->ReadInfo();
            if (!((child->remote || child->removable) && skip))
                priListChildren(child);
            continue;
        }
        if (current->label == label) {
            if (current->listed)
                priMergeChildren(current, false);
            current = current->next;
            continue;
        }
        FUiTreeNode* match = current->next;
        while (match && !(match->label == label))
            match = match->next;
        if (match) {
            while (current != match) {
                FUiTreeNode* gone = current;
                current = current->next;
                priUnlinkAndDelete(gone);
            }
            current = match->next;
        } else {
            FUiTreeNode* child = priNewChild(url, label, node);
            priInsertBefore(node, current, child);
            priListChildren(child);
        }
    }
    while (current) {
        FUiTreeNode* gone = current;
        current = current->next;
        priUnlinkAndDelete(gone);
    }
    node->listed = true;
}

void FUiTree::priRefreshAll(bool skip)
{
    priMergeChildren(m_pRoot, skip);
    for (FUiTreeNode* volume = m_pRoot->firstChild; volume; volume = volume->next) {
        if (!volume->infoRead)
            volume->ReadInfo();
        if (!skip || (!volume->remote && !volume->removable))
            priMergeChildren(volume, skip);
    }
}

FUiTreeNode* FUiTree::priFindByURL(const FWideString& url)
{
    std::vector<FWideString> parts;
    if (!SplitURL(url, parts))
        return nullptr;
    const int count = static_cast<int>(parts.size());
    int level = m_iRootParts;
    if (count < level + 1)
        return nullptr;
    if (m_bCreating && count == level + 2)
        priListChildren(m_pRoot);
    FUiTreeNode* candidates = m_pRoot->firstChild;
    FWideString wanted;
    UnescapeURLChars(parts[level], wanted);
    for (;;) {
        FUiTreeNode* match = candidates;
        while (match && !EqualsNoCase(match->label, wanted))
            match = match->next;
        if (!match)
            return nullptr;
        if (level == count - 1) {
            if (!match->infoRead)
                match->ReadInfo();
            return match->hidden ? nullptr : match;
        }
        UnescapeURLChars(parts[level + 1], wanted);
        if (m_bCreating && count == level + 3)
            match->listed = false;
        if (!match->listed)
            priListChildren(match);
        ++level;
        candidates = match->firstChild;
    }
}

void FUiTree::priSelect(FUiTreeNode* node)
{
    if (m_pSelected)
        m_pSelected->selected = false;
    m_pSelected = node;
    if (node)
        node->selected = true;
    ReLayoutWidgetWindow(m_pWindow, 0, 0);
    FWideString url = node ? node->url : FWideString();
    m_pOnDirSelected->Fire(&url);
    priInvalidate();
}

// ---- Messages ----

bool FUiTree::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Set Language") {
        if (!data)
            return false;
        std::vector<FUiTreeNode*> stack{m_pRoot};
        while (!stack.empty()) {
            FUiTreeNode* node = stack.back();
            stack.pop_back();
            if (!node)
                continue;
            ReleaseUiPixmap(node->textPixmap);
            for (FUiTreeNode* child = node->firstChild; child; child = child->next)
                stack.push_back(child);
        }
        if (m_pAppFont && m_pApp) {
            FWideString language;
            m_pApp->AddLanguageListener(nullptr, language);
            m_pAppFont->SelectLanguage(language);
        }
        priInvalidate();
        return true;
    }
    if (message == "Post Creation Initialization") {
        if (m_pVBar)
            m_pVBar->UiRelayMessage(message, data);
        if (m_pHBar)
            m_pHBar->UiRelayMessage(message, data);
        return true;
    }
    if (message == "we're goin' bye-bye") {
        if (m_pApp)
            m_pApp->RemoveLanguageListener(this);
        return true;
    }
    if (message == "VScroll" || message == "HScroll") {
        if (!data)
            return false;
        (message == "VScroll" ? m_iFirstVisibleRow : m_iHOffset) = *static_cast<const int*>(data);
        priInvalidate();
        return true;
    }
    if (message == "GetSelectedDir") {
        FWideString url = m_pSelected ? m_pSelected->url : FWideString();
        m_pOnDirSelected->Fire(&url);
        return true;
    }
    if (message == "Refresh") {
        priRefreshAll(true);
        priUpdateAll();
        priInvalidate();
        return true;
    }
    if (message == "SelectDir" || message == "CreatedNewDir") {
        if (!data)
            return false;
        const FWideString url = *static_cast<const FWideString*>(data);
        m_bCreating = message == "CreatedNewDir";
        FUiTreeNode* node = priFindByURL(url);
        m_bCreating = false;
        if (node) {
            if (!node->infoRead)
                node->ReadInfo();
            priExpandAncestors(node);
            priSelect(node);
            priScrollToSelected(false);
        }
        return true;
    }
    return FUiObject::UiRelayMessage(message, data);
}

// ---- Geometry ----

FRect FUiTree::priTextArea() const
{
    const int vw = m_pVBar ? m_pVBar->GetLayoutObject(true)->GetMinSize() : 0;
    const int hh = m_pHBar ? m_pHBar->GetLayoutObject(false)->GetMinSize() : 0;
    return FRect(m_rect.left, m_rect.top, m_rect.right - vw, m_rect.bottom - hh);
}

int FUiTree::priVisibleRows() const
{
    const int pitch = std::max(1, m_iCell + 2 * m_iVMargin);
    int height = m_rect.Height();
    if (m_pHBar)
        height -= m_pHBar->GetRect().Height() + 1;
    return std::max(0, height / pitch);
}

std::vector<FUiTreeNode*> FUiTree::GetVisibleNodes() const
{
    std::vector<FUiTreeNode*> nodes;
    if (!m_pRoot)
        return nodes;
    std::vector<FUiTreeNode*> stack;
    for (FUiTreeNode* child = m_pRoot->firstChild; child; child = child->next)
        stack.push_back(child);
    std::reverse(stack.begin(), stack.end());
    while (!stack.empty()) {
        FUiTreeNode* node = stack.back();
        stack.pop_back();
        nodes.push_back(node);
        if (node->expanded) {
            std::vector<FUiTreeNode*> children;
            for (FUiTreeNode* child = node->firstChild; child; child = child->next)
                children.push_back(child);
            stack.insert(stack.end(), children.rbegin(), children.rend());
        }
    }
    return nodes;
}

int FUiTree::priCountRows() const
{
    return static_cast<int>(GetVisibleNodes().size());
}

int FUiTree::priContentWidth() const
{
    int width = 0;
    for (const FUiTreeNode* node : GetVisibleNodes())
        width = std::max(width, node->textRight);
    return width;
}

void FUiTree::priSendScroll(FIUiObject* bar, double surface, double window, double offset)
{
    double values[3] = {surface, window, offset};
    m_pSizeChanged->Fire(values);
    if (bar)
        bar->UiRelayMessage(FWideString("Set"), values);
}

void FUiTree::priUpdateVScroll()
{
    const int visible = priVisibleRows();
    const int total = m_iRowCount;
    if (total > visible) {
        m_iFirstVisibleRow = std::clamp(m_iFirstVisibleRow, 0, total - visible);
        priSendScroll(m_pVBar, total, visible, m_iFirstVisibleRow);
    } else {
        m_iFirstVisibleRow = 0;
        priSendScroll(m_pVBar, 10, 10, 0);
    }
}

void FUiTree::priUpdateHScroll()
{
    if (!m_pHBar)
        return;
    const int vw = m_pVBar ? m_pVBar->GetLayoutObject(true)->GetMinSize() : 0;
    const int visible = m_rect.Width() - vw;
    if (m_iContentWidth > visible) {
        m_iHOffset = std::clamp(m_iHOffset, 0, m_iContentWidth - visible);
        priSendScroll(m_pHBar, m_iContentWidth, visible, m_iHOffset);
    } else {
        m_iHOffset = 0;
        priSendScroll(m_pHBar, 10, 10, 0);
    }
}

void FUiTree::priUpdateAll()
{
    m_iRowCount = priCountRows();
    priUpdateVScroll();
    m_iContentWidth = priContentWidth();
    priUpdateHScroll();
}

bool FUiTree::SetRect(int x, int y, int width, int height)
{
    m_rect = FRect(x, y, x + width, y + height);
    const int vw = m_pVBar ? m_pVBar->GetLayoutObject(true)->GetMinSize() : 0;
    const int hh = m_pHBar ? m_pHBar->GetLayoutObject(false)->GetMinSize() : 0;
    if (m_pVBar)
        m_pVBar->SetRect(m_rect.right - vw, m_rect.top, vw, (m_rect.bottom - hh) - m_rect.top);
    m_iRowCount = priCountRows();
    priUpdateVScroll();
    if (m_pHBar) {
        m_pHBar->SetRect(m_rect.left, m_rect.bottom - hh, (m_rect.right - vw) - m_rect.left, hh);
        priUpdateHScroll();
    }
    return true;
}

// ---- Drawing ----

void FUiTree::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    if (!target || !m_pRoot ||
        IsWidgetRectEmpty(IntersectWidgetRects(OffsetWidgetRect(m_rect, xOffset, yOffset), clip)))
        return;
    if (m_pVBar)
        m_pVBar->Display(target, xOffset, yOffset, clip);
    if (m_pHBar) {
        m_pHBar->Display(target, xOffset, yOffset, clip);
        const int vw = m_pVBar ? m_pVBar->GetLayoutObject(true)->GetMinSize() : 0;
        const int hh = m_pHBar->GetLayoutObject(false)->GetMinSize();
        const FRect corner(m_rect.right - vw + 1, m_rect.bottom - hh + 1, m_rect.right, m_rect.bottom);
        FillWidgetRect(target, OffsetWidgetRect(corner, xOffset, yOffset), clip, m_lowerLeftColor);
    }
    const FRect area = priTextArea();
    const FRect rowClip = IntersectWidgetRects(
        FRect(xOffset + area.left, yOffset + area.top, xOffset + area.right, yOffset + area.bottom), clip);
    m_iRowCount = 0;
    int y = yOffset + m_rect.top - m_iFirstVisibleRow * (m_iCell + 2 * m_iVMargin);
    priDrawRows(m_pRoot->firstChild, xOffset + m_rect.left - m_iHOffset, y, target, rowClip);
}

void FUiTree::priDrawRows(FUiTreeNode* first, int x, int& y, FIUiPixmap* target, const FRect& clip)
{
    const int c = m_iCell;
    const int hm = m_iHMargin;
    const int vm = m_iVMargin;
    const int indent = c + 2 * hm;
    const FRect area = priTextArea();
    // Walk siblings iteratively and descend by recursion only as deep as the
    // folders go, which the listing bounds to what the storage holds.
    for (FUiTreeNode* node = first; node; node = node->next) {
        ++m_iRowCount;
        // Rows far outside the clip keep their rectangles but are not painted.
        const bool onScreen = y + c > clip.top && y < clip.bottom;
        if (node->selected && onScreen)
            FillWidgetRect(target, FRect(area.left, y, area.right, y + c), clip, m_selectedBgColor);
        if (node->expandable) {
            FIUiPixmap* expander = node->expanded ? m_pIsOpenIcon : m_pIsClosedIcon;
            const int w = expander->GetWidth();
            const int h = expander->GetHeight();
            const int ex = x + hm + ((c - w) >> 1);
            const int ey = y + ((c - h) >> 1) + vm;
            node->expanderRect = FRect(ex, ey, ex + w, ey + h);
            if (onScreen)
                DrawAt(expander, target, ex, ey, clip);
        } else {
            node->expanderRect = FRect();
        }
        const int x1 = x + indent;
        FIUiPixmap* icon = node->icon ? node->icon : m_pFolderIcon;
        const int w = icon->GetWidth();
        const int h = icon->GetHeight();
        const int ix = x1 + hm + ((c - w) >> 1);
        const int iy = y + ((c - h) >> 1) + vm;
        node->iconRect = FRect(ix, iy, x1 + indent + 1, iy + h);
        if (onScreen)
            DrawAt(node->selected && node->selectedIcon ? node->selectedIcon : icon, target, ix, iy, clip);

        const int x2 = x1 + indent + hm;
        if (!node->textPixmap) {
            if (node->label.IsEmpty())
                node->label = kNoName;
            node->textPixmap = m_pAppFont ? m_pAppFont->RenderText(nullptr, node->label, false)
                                          : RenderInlineFontText(m_font, node->label, nullptr);
        }
        if (node->textPixmap) {
            FUiColor colour = m_font.colour;
            if (node->selected)
                colour = m_selectedFontColor;
            else if (m_pAppFont)
                m_pAppFont->GetColor(colour);
            if (onScreen)
                if (auto* generic = dynamic_cast<FIGenericUiPixmap*>(node->textPixmap))
                    generic->SetRGB(colour.red, colour.green, colour.blue);
            const int tw = node->textPixmap->GetWidth();
            const int th = node->textPixmap->GetHeight();
            const int ty = y + ((c - th) >> 1) + vm;
            node->textLeft = m_iHOffset + x2 - area.left;
            node->textRight = node->textLeft + tw - 1;
            node->textRect = FRect(x2, ty, area.right + (x2 - area.left), ty + th);
            if (onScreen)
                DrawAt(node->textPixmap, target, x2, ty, clip);
        }
        y += c + 2 * vm;
        if (node->expanded && node->firstChild)
            priDrawRows(node->firstChild, x + indent, y, target, clip);
    }
}

// ---- Input ----

void FUiTree::priInvalidate()
{
    InvalidateWidgetRect(m_pWindow, m_rect, false);
}

void FUiTree::priToggle(FUiTreeNode* node)
{
    node->expanded = !node->expanded;
    if (!node->expanded) {
        if (m_pSelected && m_pSelected->IsBelow(node)) {
            m_pSelected->selected = false;
            m_pSelected = node;
            node->selected = true;
            FWideString url = node->url;
            m_pOnDirSelected->Fire(&url);
        }
    } else {
        priListChildren(node);
        priListGrandChildren(node);
    }
    priUpdateAll();
    priInvalidate();
}

void FUiTree::priExpandAncestors(FUiTreeNode* node)
{
    for (FUiTreeNode* up = node->parent; up && up->depth >= 1; up = up->parent)
        up->expanded = true;
    priUpdateAll();
    priInvalidate();
}

int FUiTree::priRowOfSelected() const
{
    if (!m_pSelected)
        return -1;
    const std::vector<FUiTreeNode*> nodes = GetVisibleNodes();
    const auto found = std::find(nodes.begin(), nodes.end(), m_pSelected);
    return found == nodes.end() ? -1 : static_cast<int>(found - nodes.begin());
}

void FUiTree::priScrollToSelected(bool topAligned)
{
    const int index = priRowOfSelected();
    if (index < 0)
        return;
    const int visible = priVisibleRows();
    if (index < m_iFirstVisibleRow || index > m_iFirstVisibleRow + visible - 1)
        m_iFirstVisibleRow = topAligned ? index : index - visible + 1;
    m_iContentWidth = priContentWidth();
    priUpdateVScroll();
    if (m_pHBar) {
        m_iHOffset = m_pSelected->textLeft - 4 * m_iHMargin - 2 * m_iCell;
        m_iContentWidth = priContentWidth();
        priUpdateHScroll();
    }
    priInvalidate();
}

void FUiTree::Tick(int elapsedMs)
{
    if (m_pVBar)
        m_pVBar->Tick(elapsedMs);
    if (m_pHBar)
        m_pHBar->Tick(elapsedMs);
}

FIUiObject* FUiTree::HitTest(int x, int y)
{
    if (!WidgetRectContains(m_rect, x, y))
        return nullptr;
    if (m_pVBar)
        if (FIUiObject* hit = m_pVBar->HitTest(x, y))
            return hit;
    if (m_pHBar)
        if (FIUiObject* hit = m_pHBar->HitTest(x, y))
            return hit;
    return this;
}

void FUiTree::MouseWheel(int x, int y, int flag, int notches)
{
    if (m_pVBar)
        m_pVBar->MouseWheel(x, y, flag, notches);
}

bool FUiTree::MouseDown(int x, int y, bool, bool)
{
    if (FGenericUiWindow* window = GetWidgetWindow(m_pWindow))
        window->SetKeyboardObject(this, true);
    for (FUiTreeNode* node : GetVisibleNodes()) {
        if (node->expandable && WidgetRectContains(node->expanderRect, x, y)) {
            priToggle(node);
            return true;
        }
        if (y >= node->iconRect.top && y <= node->iconRect.bottom - 1) {
            if (!node->listed) {
                priListChildren(node);
                priListGrandChildren(node);
            }
            priSelect(node);
            return true;
        }
    }
    return true;
}

void FUiTree::MouseDoubleClick(int x, int y, bool, bool)
{
    if (FGenericUiWindow* window = GetWidgetWindow(m_pWindow))
        window->SetKeyboardObject(this, true);
    for (FUiTreeNode* node : GetVisibleNodes()) {
        if (WidgetRectContains(node->iconRect, x, y) || WidgetRectContains(node->textRect, x, y)) {
            priToggle(node);
            return;
        }
    }
}

void FUiTree::MouseLeave(int, int)
{
    if (FGenericUiWindow* window = GetWidgetWindow(m_pWindow))
        window->SetKeyboardObject(this, false);
}

void FUiTree::KeyEvent(uint16_t code, bool, bool)
{
    FUiTreeNode* node = m_pSelected;
    if (!node)
        return;
    const bool hasChildren = node->firstChild != nullptr;
    switch (code) {
    case kKeyEnter:
        if (hasChildren)
            priToggle(node);
        return;
    case kKeyUp: {
        FUiTreeNode* target = node->prev;
        if (target) {
            while (target->expanded && target->firstChild) {
                target = target->firstChild;
                while (target->next)
                    target = target->next;
            }
        } else {
            target = node->parent;
        }
        if (target) {
            priSelect(target);
            priScrollToSelected(true);
        }
        return;
    }
    case kKeyDown: {
        FUiTreeNode* target = nullptr;
        if (node->expanded && node->firstChild)
            target = node->firstChild;
        else
            for (FUiTreeNode* up = node; up && up != m_pRoot && !target; up = up->parent)
                target = up->next;
        if (target) {
            priSelect(target);
            priScrollToSelected(false);
        }
        return;
    }
    case kKeyRight:
        if (!hasChildren)
            return;
        if (node->expanded) {
            priSelect(node->firstChild);
            priScrollToSelected(false);
        } else {
            priToggle(node);
        }
        return;
    case kKeyLeft:
        if (node->expanded && hasChildren) {
            priToggle(node);
        } else if (node->parent) {
            priSelect(node->parent);
            priScrollToSelected(true);
        }
        return;
    default:
        return;
    }
}

FUiTreeNode* FUiTree::priDropNode(int y)
{
    for (FUiTreeNode* node : GetVisibleNodes()) {
        if (y >= node->iconRect.top && y < node->iconRect.bottom) {
            if (!node->infoRead)
                node->ReadInfo();
            return node;
        }
    }
    return nullptr;
}

bool FUiTree::CanDrop(int, int y)
{
    FUiTreeNode* node = priDropNode(y);
    return node && !node->readOnly;
}

bool FUiTree::Drop(int, int y, bool, bool, const FWideString& dragData)
{
    FUiTreeNode* node = priDropNode(y);
    if (!node || node->readOnly)
        return false;
    FUiTreeCopyFile record;
    record.paths = {dragData, node->url};
    m_pOnCopyFile->Fire(&record);
    return true;
}
