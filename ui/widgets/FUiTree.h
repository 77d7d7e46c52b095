#pragma once

// DIRTREE: the folders of the volumes as an expandable tree that lists a
// folder only when it is needed, keeps names sorted, hides hidden folders and
// reports the folder the user selects.

#include <vector>

#include "FUiColor.h"
#include "FUiObject.h"
#include "FUiWidgetFrame.h"

class FIFolder;
class FIUiFont;
class FIUiPixmap;
class FUiTree;

// One listed folder. The root owns the whole tree through the child chains.
class FUiTreeNode
{
public:
    FUiTreeNode(FUiTree* owner, const FWideString& url, const FWideString& label, int depth);
    ~FUiTreeNode();
    FUiTreeNode(const FUiTreeNode&) = delete;
    FUiTreeNode& operator=(const FUiTreeNode&) = delete;

    // Opens the folder when needed and reads drive kind and attributes; a
    // folder that does not open leaves every flag false.
    void ReadInfo();
    // Releases the folder and the text pixmap and deletes the children.
    void Clear();
    // Deletes the children; true when `watched` was among the deleted nodes.
    bool DeleteChildren(const FUiTreeNode* watched);
    // True when this node lies below `ancestor`.
    bool IsBelow(const FUiTreeNode* ancestor) const;
    // Opens the folder when it has none; null when it cannot be opened.
    FIFolder* GetFolder();

    FUiTree* owner;
    FIFolder* folder = nullptr;
    bool infoRead = false;
    bool remote = false;
    bool removable = false;
    bool cdRom = false;
    bool hidden = false;
    bool readOnly = false;
    FWideString url;
    int depth = 0;
    int textLeft = 0;
    int textRight = 0;
    bool selected = false;
    bool expanded = false;
    bool expandable = true;
    FWideString label;
    FIUiPixmap* icon = nullptr;
    FIUiPixmap* selectedIcon = nullptr;
    FIUiPixmap* textPixmap = nullptr;
    bool listed = false;
    FRect expanderRect;
    FRect textRect;
    FRect iconRect;
    FUiTreeNode* parent = nullptr;
    FUiTreeNode* prev = nullptr;
    FUiTreeNode* next = nullptr;
    FUiTreeNode* firstChild = nullptr;
};

class FUiTree : public FUiObject
{
public:
    explicit FUiTree(const char* typeName);
    ~FUiTree() override;

    bool ConnectRelays() override;
    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    void Tick(int elapsedMs) override;
    FIUiObject* HitTest(int x, int y) override;
    void MouseDoubleClick(int x, int y, bool ctrl, bool shift) override;
    bool CanDrop(int x, int y) override;
    bool Drop(int x, int y, bool ctrl, bool shift, const FWideString& dragData) override;
    bool MouseDown(int x, int y, bool ctrl, bool shift) override;
    void MouseLeave(int x, int y) override;
    void MouseWheel(int x, int y, int flag, int notches) override;
    void KeyEvent(uint16_t code, bool ctrl, bool shift) override;

    FUiTreeNode* GetRoot() const { return m_pRoot; }
    FUiTreeNode* GetSelected() const { return m_pSelected; }
    int GetRowCount() const { return m_iRowCount; }
    int GetFirstVisibleRow() const { return m_iFirstVisibleRow; }
    int GetHorizontalOffset() const { return m_iHOffset; }
    int GetCellSize() const { return m_iCell; }
    int GetVisibleRows() const { return priVisibleRows(); }
    // The visible nodes in display order.
    std::vector<FUiTreeNode*> GetVisibleNodes() const;
    FIUiObject* GetVScrollbar() const { return m_pVBar; }
    FIUiObject* GetHScrollbar() const { return m_pHBar; }

    // Node icons by kind; used by the nodes the tree makes.
    void SetVolumeIcons(FUiTreeNode* node) const;
    void SetFolderIcons(FUiTreeNode* node) const;

private:
    friend class FUiTreeNode;

    FUiTreeNode* priNewChild(const FWideString& url, const FWideString& label, FUiTreeNode* parent);
    bool priCreateRoot();
    void priListChildren(FUiTreeNode* node);
    void priListGrandChildren(FUiTreeNode* node);
    void priMergeChildren(FUiTreeNode* node, bool skip);
    void priRefreshAll(bool skip);
    FUiTreeNode* priFindByURL(const FWideString& url);
    void priSelect(FUiTreeNode* node);
    // The sorted names of the node's folder, with the URL part of each; false
    // when the folder cannot be opened.
    bool priReadNames(FUiTreeNode* node, std::vector<FWideString>& names);
    void priChildURLAndLabel(FUiTreeNode* node, const FWideString& name, FWideString& url,
                             FWideString& label) const;
    // Deletes the children and clears the selection when it was among them.
    void priDeleteChildren(FUiTreeNode* node);
    void priUnlinkAndDelete(FUiTreeNode* node);
    void priInsertBefore(FUiTreeNode* parent, FUiTreeNode* before, FUiTreeNode* child);

    int priVisibleRows() const;
    int priCountRows() const;
    int priContentWidth() const;
    void priUpdateVScroll();
    void priUpdateHScroll();
    void priUpdateAll();
    FRect priTextArea() const;
    void priDrawRows(FUiTreeNode* first, int x, int& y, FIUiPixmap* target, const FRect& clip);
    void priToggle(FUiTreeNode* node);
    void priExpandAncestors(FUiTreeNode* node);
    void priScrollToSelected(bool topAligned);
    int priRowOfSelected() const;
    FUiTreeNode* priDropNode(int y);
    void priSendScroll(FIUiObject* bar, double surface, double window, double offset);
    void priInvalidate();

    bool m_bCreating = false;
    int m_iMinHSize = 0;
    int m_iMinVSize = 0;
    int m_iHStretch = 0;
    int m_iVStretch = 0;
    FUiInlineFont m_font;
    FIUiFont* m_pAppFont = nullptr;
    FUiColor m_selectedFontColor{0, 0, 0, 255};
    FUiColor m_selectedBgColor{0, 0, 0, 255};
    FUiColor m_disabledFontColor{0, 0, 0, 255};
    FUiColor m_lowerLeftColor{0, 0, 0, 255};
    FIUiPixmap* m_pDiskIcon = nullptr;
    FIUiPixmap* m_pRemovableIcon = nullptr;
    FIUiPixmap* m_pCdRomIcon = nullptr;
    FIUiPixmap* m_pFolderIcon = nullptr;
    FIUiPixmap* m_pOpenFolderIcon = nullptr;
    FIUiPixmap* m_pIsOpenIcon = nullptr;
    FIUiPixmap* m_pIsClosedIcon = nullptr;
    int m_iCell = 1;
    int m_iHMargin = 2;
    int m_iVMargin = 0;
    int m_iRowCount = 0;
    int m_iFirstVisibleRow = 0;
    int m_iContentWidth = 0;
    int m_iHOffset = 0;
    FWideString m_usRootURL;
    // Parts of the root's URL: a URL must begin with them to name a node.
    int m_iRootParts = 1;
    FUiTreeNode* m_pRoot = nullptr;
    FUiTreeNode* m_pSelected = nullptr;
    RelayEvent* m_pSizeChanged = nullptr;
    RelayEvent* m_pOnDirSelected = nullptr;
    RelayEvent* m_pOnCopyFile = nullptr;
    FIUiObject* m_pVBar = nullptr;
    FIUiObject* m_pHBar = nullptr;
};

// The record ON_COPY_FILE carries: the dropped data and the target folder's URL.
struct FUiTreeCopyFile {
    uint8_t flag = 0;
    std::vector<FWideString> paths;
};
