#pragma once

#include <vector>

#include "FUiColor.h"
#include "FUiObject.h"

class FIUiFont;
class FIUiMultiLangString;
class FIUiObjectFactory;
class FIUiPixmap;
class FImageFileListEntry;
class FImageFileList;

// One shown image: the view's own copy of the entry (its selected flag is the cell's
// selection) and where the cell lies in window coordinates.
struct ThumbnailCell {
    FImageFileListEntry* entry = nullptr;
    int index = 0;
    FRect rect;
    FRect prevRect;
    ThumbnailCell* prev = nullptr;
    ThumbnailCell* next = nullptr;
};

// The pictures and measures of one size mode.
struct FThumbnailSkin {
    FIUiPixmap* frame = nullptr;
    FIUiPixmap* highlight = nullptr;
    FIUiPixmap* invalid = nullptr;
    FIUiPixmap* inner = nullptr;
    int thumbSize = 0;
    int centreX = 0;
    int centreY = 0;
    int margin = 0;
    int highlightX = 0;
    int highlightY = 0;
};

// THUMBNAIL_LIST, a scrolling grid of image cells with its own scroll bar, and
// THUMBNAIL, one cell alone. Cells arrive by messages; selection changes leave as events.
class FUiThumbnails : public FUiObject
{
public:
    enum Mode { kNone = 0, kSmall = 1, kMedium = 2, kLarge = 3, kDetailed = 4 };

    explicit FUiThumbnails(const char* typeName);
    ~FUiThumbnails() override;

    bool ConnectRelays() override;
    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    void Tick(int elapsedMs) override;
    FIUiObject* HitTest(int x, int y) override;
    void MouseDoubleClick(int x, int y, bool ctrl, bool shift) override;
    bool GetDragData(int x, int y, bool ctrl, bool shift, FWideString& dragData) override;
    bool MouseDown(int x, int y, bool ctrl, bool shift) override;
    void MouseEnter(int x, int y) override;
    void MouseWheel(int x, int y, int flag, int notches) override;
    void KeyEvent(uint16_t code, bool ctrl, bool shift) override;

    int GetSizeMode() const { return m_nSizeMode; }
    int GetThumbSize() const { return m_nThumbSize; }
    int GetCellCount() const { return m_nCellCount; }
    int GetFirstRow() const { return m_nFirstRow; }
    ThumbnailCell* GetFirstCell() const { return m_pFirstCell; }
    ThumbnailCell* GetCell(int index) const;
    ThumbnailCell* GetCurrentCell() const { return m_pCurrentCell; }
    ThumbnailCell* GetAnchorCell() const { return m_pAnchorCell; }
    FIUiObject* GetScrollbar() const { return m_pScrollbar; }
    bool IsList() const { return m_bList; }
    // Columns of the grid and rows that fit, by the current mode; at least 1 column.
    int GetColumns() const;
    int GetVisibleRows() const;

    // The three selection commands that the scripts send as messages, callable directly.
    void SelectAll();
    void DeselectAll();

private:
    const FThumbnailSkin& priSkin() const;
    int priCellW() const;
    int priCellH() const;
    void priSetMode(int mode);
    void priFireSizeEvents();
    void priLayoutCell(ThumbnailCell* cell);
    void priRelayout(bool redraw);
    void priInvalidateCell(ThumbnailCell* cell, bool now);
    void priInvalidatePlace(const FRect& rect, bool now);
    void priUpdateScrollbar();
    void priUpdateWindow();
    void priNewThumbnail(const FImageFileListEntry& entry);
    void priInsertCell(ThumbnailCell* cell);
    void priAppendCell(ThumbnailCell* cell, bool invalidate);
    void priNewThumbnailList(FImageFileList* list);
    void priRemoveThumbnail(const FImageFileListEntry& entry);
    void priRemoveAllCells();
    bool priChangeSize(const FWideString& name);
    ThumbnailCell* priCellAt(int x, int y) const;
    void priSelectOne(ThumbnailCell* cell);
    void priDeselectOne(ThumbnailCell* cell, RelayEvent* event);
    void priShiftClick(ThumbnailCell* cell);
    void priPlainClick(ThumbnailCell* cell);
    void priArrow(bool right);
    // Walks the cells: `change` answers whether a cell's flag flips; the flipped cells'
    // URLs are gathered by their new state.
    template <class F>
    void priChangeSelection(F change, std::vector<FWideString>& selected,
                            std::vector<FWideString>& deselected);
    void priSelectByFlag(bool locked);
    void priInvert();

    void priDrawBackground(FIUiPixmap* target, int dx, int dy, const FRect& clip);
    void priDrawCell(FIUiPixmap* target, int dx, int dy, const FRect& clip, ThumbnailCell* cell);
    void priDrawName(FIUiPixmap* target, const FRect& clip, const FRect& cell, const FRect& image,
                     const FImageFileListEntry& entry);
    void priDrawIcons(FIUiPixmap* target, const FRect& clip, const FRect& cell, const FRect& image,
                      const FImageFileListEntry& entry);
    void priDrawDetails(FIUiPixmap* target, const FRect& clip, const FRect& cell,
                        const FImageFileListEntry& entry);
    FWideString priDisplayText(FIUiMultiLangString* string, const char* fallback) const;
    FIUiPixmap* priFrameOnFill();

    int m_nSizeMode = kNone;
    bool m_bList = true;
    int m_nMinHSize = 0;
    int m_nMinVSize = 0;
    int m_nHStretch = 0;
    int m_nVStretch = 0;
    FIUiMultiLangString* m_pFStopPrefix = nullptr;
    FIUiMultiLangString* m_pSecondsSuffix = nullptr;
    FIUiMultiLangString* m_pBulbText = nullptr;
    int m_nThumbSize = 0;
    int m_nCellCount = 0;
    ThumbnailCell* m_pFirstCell = nullptr;
    ThumbnailCell* m_pLastCell = nullptr;
    ThumbnailCell* m_pCurrentCell = nullptr;
    ThumbnailCell* m_pAnchorCell = nullptr;
    int m_nFrameThickness = -1;
    FUiColor m_frameColor{0, 0, 0, 255};
    FUiColor m_fillColor{0, 0, 0, 255};
    FIUiFont* m_pFont = nullptr;
    bool m_bShown = true;
    FIUiPixmap* m_pMarkIcon = nullptr;
    FIUiPixmap* m_pLockIcon = nullptr;
    FIUiPixmap* m_pTransferIcon = nullptr;
    FIUiPixmap* m_pRawFrameIcon = nullptr;
    FIUiPixmap* m_pJpegFrameIcon = nullptr;
    FIUiPixmap* m_pTiffFrameIcon = nullptr;
    int m_nFrameIconX = 2;
    int m_nFrameIconY = 2;
    int m_nFirstRow = 0;
    FIUiObject* m_pScrollbar = nullptr;
    // Large, Medium, Small, Detailed.
    FThumbnailSkin m_skins[4];
    // Each mode's frame already blended over the fill colour: the cells of a list always lie
    // on the fill, so copying it gives the same pixels as blending the frame there.
    FIUiPixmap* m_pFrameOnFill[4] = {};
    FIUiPixmap* m_pTiffIcon = nullptr;
    FIUiPixmap* m_pJpegIcon = nullptr;
    FIUiPixmap* m_pRawIcon = nullptr;

    RelayEvent* m_pOnThumbnailSize = nullptr;
    RelayEvent* m_pOnModeEvents[4] = {};
    RelayEvent* m_pOnSelectImage = nullptr;
    RelayEvent* m_pOnSelectImageIfle = nullptr;
    RelayEvent* m_pOnSelectImageList = nullptr;
    RelayEvent* m_pOnDeselectImageList = nullptr;
    RelayEvent* m_pOnDeselectImage = nullptr;
    RelayEvent* m_pOnDeselectImageNoUpdate = nullptr;
    RelayEvent* m_pOnDoubleClick = nullptr;
    RelayEvent* m_pOnReturnKey = nullptr;
};

// Registers "THUMBNAIL_LIST" and "THUMBNAIL"; true when both registered.
bool RegisterThumbnailsCreators(FIUiObjectFactory* factory);
