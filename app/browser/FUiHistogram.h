#pragma once

#include "FReviewDisplayWidgets.h"
#include "FUiObject.h"

class FIHistogram;
class FIUiObjectFactory;
class FIUiPixmap;

// HISTOGRAM: the red, green and blue distributions of the shown image as three
// joined bands over a grey luminance area, with the shadow and highlight warning
// levels marked. The levels step by messages, persist between runs and are
// announced by events for the text fields and the image view.
class FUiHistogram : public FUiObject
{
public:
    // The picture never has more columns than there are levels; a wider widget
    // shows it scaled.
    static constexpr int kColumns = 256;

    explicit FUiHistogram(const char* typeName);
    ~FUiHistogram() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    FIUiObject* HitTest(int x, int y) override;

    // The column of a level in a picture `cols` wide, kept inside the picture.
    static int LevelColumn(int level, int cols);

    FIUiPixmap* GetPicture() const { return m_pPicture; }
    int GetShadowLevel() const { return m_iShadow; }
    int GetHighlightLevel() const { return m_iHighlight; }
    bool AreWarningsEnabled() const { return m_bWarnings; }

private:
    void priRebuild();
    void priPaintBands(int cols, int rows);
    void priAnnounce(bool shadow);
    void priFireLevel(bool shadow);

    FIUiPixmap* m_pPicture = nullptr;
    FIHistogram* m_pHistogram = nullptr;
    bool m_bWarnings = false;
    int m_iShadow = 10;
    int m_iHighlight = 250;
    // Read and kept; the widget draws no border or background of its own.
    FFramedWidgetKeys m_keys;

    RelayEvent* m_pOnUpdateShadow = nullptr;
    RelayEvent* m_pOnUpdateHighlight = nullptr;
    RelayEvent* m_pOnEnableWarnings = nullptr;
    RelayEvent* m_pOnSetShadow = nullptr;
    RelayEvent* m_pOnSetHighlight = nullptr;
    RelayEvent* m_pOnSetShowWarnings = nullptr;
};

bool RegisterHistogramCreator(FIUiObjectFactory* factory);
