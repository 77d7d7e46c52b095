#pragma once

// DELETE_ALL_WIN_MGR: removes every unlocked raw image from one folder (the
// camera card's), telling the dialog first what there is, and reporting each
// image as it goes. Locked images are always kept. A card of thousands of images
// is read and deleted over the window's ticks, a slice at a time.

#include <memory>

#include "FUiObject.h"
#include "FUiPoolHolder.h"
#include "FWideString.h"
#include "ImageChangeQuery.h"

class FIPManager;
class FIUiObjectFactory;
class FImageFileList;
class FImageFileListEntry;

// The record of ON_IS_DELETE_ALLOWED: a receiver may clear m_bAllowed. It is the
// change query itself, so the progress window's "IsRotateAllowed" can answer it.
using FDeleteAllowedRecord = ImageChangeQuery;

class FUiDeleteAllWindow : public FUiObject
{
public:
    // `pool` (kept, not owned) stands in for the process pool in tests.
    explicit FUiDeleteAllWindow(const char* typeName, FIPManager* pool = nullptr);
    ~FUiDeleteAllWindow() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    void Tick(int elapsedMs) override;

    FImageFileList& GetList() { return *m_pList; }
    // A read or a deletion is under way on the ticks.
    bool IsReading() const;
    bool IsDeleting() const { return m_bDeleting; }

    // Seconds of reading or deleting per message or tick.
    static constexpr double kSliceBudget = 0.008;

private:
    static bool ApproveEach(void* context, FImageFileListEntry* entry);
    static bool AfterEach(void* context, FImageFileListEntry* kept);
    void priRead(const FWideString& folderURL);
    void priReadSlice();
    void priReadDone();
    void priDelete();
    void priDeleteSlice();
    void priCancel();

    FUiPoolHolder m_pool;
    std::unique_ptr<FImageFileList> m_pList;
    FWideString m_usFolderURL;
    FWideString m_usPendingURL;
    bool m_bDeleting = false;
    bool m_bCancelled = false;
    int m_nToDelete = 0;
    int m_nDone = 0;

    RelayEvent* m_pOnReading = nullptr;
    RelayEvent* m_pOnSomething = nullptr;
    RelayEvent* m_pOnNothing = nullptr;
    RelayEvent* m_pOnNothingUnlocked = nullptr;
    RelayEvent* m_pOnSomeLocked = nullptr;
    RelayEvent* m_pOnIsAllowed = nullptr;
    RelayEvent* m_pOnBegin = nullptr;
    RelayEvent* m_pOnDeleting = nullptr;
    RelayEvent* m_pOnEnd = nullptr;
    RelayEvent* m_pOnProgress = nullptr;
};

bool RegisterDeleteAllWindowManager(FIUiObjectFactory* factory);
