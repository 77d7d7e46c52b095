#pragma once

// IP_OBJECT2: the bridge between the request records of FUiIpObjectRequest.h and the engine
// service. It serves one request at a time: "IpRequest" takes a record in and hands the
// engine a job, and when the job ends the tick sends "IpReply" to the record's return relay.
// File copies it performs itself: a worker reads 64 KiB pieces, the ticks write them.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "FAsyncStatus.h"
#include "FEngineAccess.h"
#include "FIPJob.h"
#include "FIPManagerRequest.h"
#include "FIStorageClass.h"
#include "FUiObject.h"
#include "FWideString.h"
#include "ProcessingSettings.h"

class FPropList;
class FIPManager;
class FIUiObjectFactory;
class FIpFileCopy;
class FUiIpObjectRequest;
class FUiIpObjectReply;
class FUiIpObjectProcAndSaveReq;

class FUiIpObject : public FUiObject
{
public:
    // Bytes copied per piece.
    static constexpr int kCopyChunk = 0x10000;
    // The budget also bounds how long a tick waits for the copy's worker, so a stalling
    // source never holds the window beyond it.
    // Share of a tick that copying may take: leaves the window most of each 10 ms tick.
    static constexpr std::chrono::microseconds kDefaultCopyBudget{8000};

    // `manager` (kept, not owned) stands in for the process-wide pool; null takes the pool.
    explicit FUiIpObject(const char* typeName, FIPManager* manager = nullptr);
    // A request still in service is cancelled and answered before the object goes.
    ~FUiIpObject() override;
    FUiIpObject(const FUiIpObject&) = delete;
    FUiIpObject& operator=(const FUiIpObject&) = delete;

    // "IpRequest" with a request record; the answer is always false, the record says the rest.
    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    void Tick(int elapsedMs) override;

    // Copy pieces per tick: as many as fit in `budget`, and no more than `maxPieces` when it
    // is positive. One piece per tick is the slowest, most even pacing.
    void SetCopyBudget(std::chrono::microseconds budget, int maxPieces);
    // No request in service.
    bool IsIdle() const { return m_pCurReq == nullptr; }
    // No copy worker is left running, not even one still ending a cancelled copy.
    bool IsCopyQuiet();

private:
    // Which job of a request is with the engine.
    enum class Step { kMain, kLookUpWhiteBalance, kStoreSettings };

    bool priIsBusy() const;
    bool priDispatch(FUiIpObjectRequest* request);
    void priAfterIntake(FUiIpObjectRequest* request);

    // Kind intakes: false refuses, with the request's status saying why.
    bool priBeginFileRequest(FUiIpObjectRequest* request, const char* emptyNameLog, int managerKind);
    bool priSubmit(FUiIpObjectRequest* request);
    void priResubmit();
    bool priInitiateWhiteBalReq(FUiIpObjectRequest* request);
    void priFillWhiteBalance(const FWideString& url, const FWideString& value);
    void priLookedUpWhiteBalance(const FIPJobResult& result);
    bool priInitiateProcAndSaveReq(FUiIpObjectProcAndSaveReq* request);
    bool priInitiateCopyReq(FUiIpObjectRequest* request);
    void priFillSavePass(const FUiIpObjectProcAndSaveReq& request, const ProcessingSettings& settings);
    void priFillStoreSettings(const FWideString& url, const ProcessingSettings& settings);
    void priStoredSettings(const FIPJobResult& result);

    void priTickCopy(FUiIpObjectRequest& request);
    void priJobEnded(FIPJobResult& result);
    void priComplete(FIPJobResult& result);
    void priCompleteProcAndSave(FIPJobResult& result);
    void priReportProgress(double progress);
    // Sends a final reply, then clears the request in service.
    void priSendFinal(FUiIpObjectReply& reply);
    void priFinishPlain(int state);
    void priFail(FUiIpObjectRequest* request, int errorCode, bool reply);

    // The copy.
    bool priCopyPieces();
    bool priBudgetLeft() const;
    void priCopyWithinTick();
    void priEndCopy();
    void priStopCopy();

    FEngineAccess m_engine;
    // The job being made, and which step of its request it serves.
    FIPJob m_job;
    Step m_eStep = Step::kMain;
    FUiIpObjectRequest* m_pCurReq = nullptr;
    // The lock a settings store lifted, put back once the store ends.
    bool m_bRelock = false;
    FFileInfo m_LockedInfo;
    double m_dLastProgress = 0.0;
    bool m_bCancelPending = false;

    FAsyncStatus m_CopyStatus;
    bool m_bCopying = false;
    std::unique_ptr<FIpFileCopy> m_pCopy;
    std::chrono::microseconds m_CopyBudget = kDefaultCopyBudget;
    int m_nCopyMaxPieces = 0;
    // The last piece left time in the tick to put the copy in place.
    bool m_bEndCopyNow = false;
    // This tick's copy budget: when it ends, and the pieces it has taken.
    std::chrono::steady_clock::time_point m_tickDeadline{};
    int m_nTickPieces = 0;
    // A copy ended in this tick with budget to spare: the next copy handed in before the
    // next tick may start at once, so that small files do not take a tick each.
    bool m_bChainOpen = false;

    RelayEvent* m_pOnUpdateImage = nullptr;
};

// Registers IP_OBJECT2. Objects it makes use `manager` (kept, not owned) in place of the
// process-wide pool when it is not null.
bool RegisterIpObjectCreator(FIUiObjectFactory* factory, FIPManager* manager = nullptr);

// The raw-file header properties that keep the user's adjustments, in their written order.
void SetStoredSettingProps(FPropList& props, const ProcessingSettings& settings);

// After a bridge stored adjustment settings in a raw file it fires ON_UPDATE_IMAGE through
// this sender, which builds the browser's view of the file (with fresh properties) and fires
// the event with it as data. Without a sender the event is not fired. Returns the previous one.
using FIpUpdateImageSender = std::function<void(const FWideString& url, RelayEvent& event)>;
FIpUpdateImageSender SetIpUpdateImageSender(FIpUpdateImageSender sender);
