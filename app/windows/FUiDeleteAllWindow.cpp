#include "FUiDeleteAllWindow.h"

#include <chrono>
#include <utility>

#include "FDebugTrace.h"
#include "FException.h"
#include "FIPManager.h"
#include "FImageFileList.h"
#include "FImageFileListEntry.h"
#include "FUiManagerCreator.h"
#include "RelayEvent.h"

FUiDeleteAllWindow::FUiDeleteAllWindow(const char* typeName, FIPManager* pool)
    : FUiObject(typeName), m_pool(pool)
{
    m_pList = std::make_unique<FImageFileList>(m_pool.Get());
    m_pOnReading = AddEvent(FWideString("ON_READING_CAMERA_DIR"));
    m_pOnSomething = AddEvent(FWideString("ON_SOMETHING_TO_DELETE"));
    m_pOnNothing = AddEvent(FWideString("ON_NOTHING_TO_DELETE"));
    m_pOnNothingUnlocked = AddEvent(FWideString("ON_NOTHING_UNLOCKED"));
    m_pOnSomeLocked = AddEvent(FWideString("ON_SOME_FILES_LOCKED"));
    m_pOnIsAllowed = AddEvent(FWideString("ON_IS_DELETE_ALLOWED"));
    m_pOnBegin = AddEvent(FWideString("ON_BEGIN_DELETE"));
    m_pOnDeleting = AddEvent(FWideString("ON_DELETING_IMAGE"));
    m_pOnEnd = AddEvent(FWideString("ON_END_DELETE"));
    // "deleted / to delete", after each slice of a deletion.
    m_pOnProgress = AddEvent(FWideString("ON_DELETE_PROGRESS"));
}

FUiDeleteAllWindow::~FUiDeleteAllWindow()
{
    m_pList.reset();
}

bool FUiDeleteAllWindow::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    return InitNonVisualUiObject(this, app, window, parent, tag);
}

bool FUiDeleteAllWindow::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "DelDir") {
        // The deletion under way keeps the list it was started on.
        if (data && !m_bDeleting)
            priRead(*static_cast<const FWideString*>(data));
    } else if (message == "OK") {
        // Until the read ends there is nothing known to delete.
        if (!m_bDeleting && !IsReading())
            priDelete();
    } else if (message == "Cancel") {
        priCancel();
    }
    return false;
}

bool FUiDeleteAllWindow::IsReading() const
{
    return m_pList->IsReading();
}

void FUiDeleteAllWindow::Tick(int elapsedMs)
{
    FUiObject::Tick(elapsedMs);
    if (IsReading())
        priReadSlice();
    else if (m_bDeleting)
        priDeleteSlice();
}

void FUiDeleteAllWindow::priRead(const FWideString& folderURL)
{
    m_pOnReading->Fire(nullptr);
    m_usFolderURL = folderURL;
    try {
        if (!m_pList->BeginRead(m_pool.Get(), folderURL)) {
            m_pList->Clear();
            priReadDone();
            return;
        }
    } catch (const FException&) {
        m_pList->Clear();
        priReadDone();
        return;
    }
    priReadSlice();
}

void FUiDeleteAllWindow::priReadSlice()
{
    try {
        if (!m_pList->ContinueRead(kSliceBudget))
            return;
    } catch (const FException&) {
        // A card that stops answering while it is read offers nothing to delete.
        m_pList->Clear();
    }
    priReadDone();
}

void FUiDeleteAllWindow::priReadDone()
{
    m_pList->Refilter();
    const int all = m_pList->m_aCounts[kCountAll].m_nCount;
    const int locked = m_pList->m_aCounts[kCountLocked].m_nCount;
    if (all - locked > 0) {
        m_pOnSomething->Fire(nullptr);
        if (locked > 0)
            m_pOnSomeLocked->Fire(nullptr);
    } else if (all > 0) {
        m_pOnNothingUnlocked->Fire(nullptr);
    } else {
        m_pOnNothing->Fire(nullptr);
    }
}

void FUiDeleteAllWindow::priCancel()
{
    if (IsReading()) {
        m_pList->Clear();
        return;
    }
    // The images deleted so far stay deleted and reported; the rest are refused, so the
    // batch walks to its end without touching another file.
    if (m_bDeleting)
        m_bCancelled = true;
}

bool FUiDeleteAllWindow::ApproveEach(void* context, FImageFileListEntry* entry)
{
    auto* self = static_cast<FUiDeleteAllWindow*>(context);
    FDeleteAllowedRecord record;
    record.m_usURL = entry->m_usURL;
    if (self->m_bCancelled)
        return false;
    self->m_pOnIsAllowed->Fire(&record);
    // The list asks before it touches the file; the image is reported once it is gone.
    if (record.m_bAllowed)
        self->m_usPendingURL = entry->m_usURL;
    return record.m_bAllowed;
}

bool FUiDeleteAllWindow::AfterEach(void* context, FImageFileListEntry* kept)
{
    auto* self = static_cast<FUiDeleteAllWindow*>(context);
    FWideString url = std::move(self->m_usPendingURL);
    self->m_usPendingURL = FWideString();
    // A kept entry is one the storage could not delete: it is not reported.
    if (!kept) {
        ++self->m_nDone;
        self->m_pOnDeleting->Fire(&url);
    }
    return true;
}

void FUiDeleteAllWindow::priDelete()
{
    m_pOnBegin->Fire(nullptr);
    m_bCancelled = false;
    m_nDone = 0;
    m_nToDelete = 0;
    for (const FImageFileListEntry* e = m_pList->m_pHead; e; e = e->m_pNext)
        m_nToDelete += e->m_bRaw && !e->m_bLocked ? 1 : 0;
    m_bDeleting = m_pList->DeleteUnlockedRaw(this, &FUiDeleteAllWindow::ApproveEach, this,
                                             &FUiDeleteAllWindow::AfterEach);
    if (m_bDeleting)
        priDeleteSlice();
    else
        m_pOnEnd->Fire(nullptr);
}

void FUiDeleteAllWindow::priDeleteSlice()
{
    const auto start = std::chrono::steady_clock::now();
    do {
        m_pList->Idle();
    } while (m_pList->IsBatchRunning() &&
             std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < kSliceBudget);
    if (m_nToDelete > 0) {
        FWideString progress;
        progress.Format("%d / %d", m_nDone, m_nToDelete);
        m_pOnProgress->Fire(&progress);
    }
    if (m_pList->IsBatchRunning())
        return;
    m_bDeleting = false;
    m_pOnEnd->Fire(nullptr);
}

bool RegisterDeleteAllWindowManager(FIUiObjectFactory* factory)
{
    return RegisterUiManager<FUiDeleteAllWindow>(factory, "DELETE_ALL_WIN_MGR");
}
