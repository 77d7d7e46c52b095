#include "FUiDeleteAllWindow.h"

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
        if (data)
            priRead(*static_cast<const FWideString*>(data));
    } else if (message == "OK") {
        priDelete();
    }
    return false;
}

void FUiDeleteAllWindow::priRead(const FWideString& folderURL)
{
    m_pOnReading->Fire(nullptr);
    m_usFolderURL = folderURL;
    try {
        if (!m_pList->ReadFolder(m_pool.Get(), folderURL))
            m_pList->Clear();
    } catch (const FException&) {
        // A card that stops answering while it is read offers nothing to delete.
        m_pList->Clear();
    }
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

bool FUiDeleteAllWindow::ApproveEach(void* context, FImageFileListEntry* entry)
{
    auto* self = static_cast<FUiDeleteAllWindow*>(context);
    FDeleteAllowedRecord record;
    record.m_usURL = entry->m_usURL;
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
    if (!kept)
        self->m_pOnDeleting->Fire(&url);
    return true;
}

void FUiDeleteAllWindow::priDelete()
{
    m_pOnBegin->Fire(nullptr);
    if (m_pList->DeleteUnlockedRaw(this, &FUiDeleteAllWindow::ApproveEach, this,
                                   &FUiDeleteAllWindow::AfterEach)) {
        while (m_pList->IsBatchRunning())
            m_pList->Idle();
    }
    m_pOnEnd->Fire(nullptr);
}

bool RegisterDeleteAllWindowManager(FIUiObjectFactory* factory)
{
    return RegisterUiManager<FUiDeleteAllWindow>(factory, "DELETE_ALL_WIN_MGR");
}
