#pragma once

// Test stand-ins around the image-processing bridge: a pool whose requests end as each test
// plans (at once, after some Idle calls, failed, cancelled or deaf to cancel), a relay that
// records every reply it receives, and a storage class whose folders refuse every write.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "FIPManager.h"
#include "FIPManagerRequest.h"
#include "FIStorageClass.h"
#include "FIUiRelay.h"
#include "ProcessingSettings.h"

// How the fake ends one request.
struct FFakeIpPlan {
    // Idle calls until the end; 0 ends the request inside Request.
    int idles = 0;
    int finalState = kCompleted;
    // With finalState kError.
    int errorCode = 0;
    // A set cancel flag ends the request cancelled at the next Idle.
    bool honourCancel = true;
    // Writes the results into the request just before it ends.
    std::function<void(FIPManagerRequest&)> fill;
    // Request throws instead of accepting.
    bool throwOnRequest = false;
    // Each Idle writes the share done as progress; without, progress stays as it was.
    bool reportsProgress = true;

    // Builders, so that a plan reads as one line.
    static FFakeIpPlan After(int idleCalls)
    {
        FFakeIpPlan plan;
        plan.idles = idleCalls;
        return plan;
    }
    FFakeIpPlan Failing(int code) const
    {
        FFakeIpPlan plan = *this;
        plan.finalState = kError;
        plan.errorCode = code;
        return plan;
    }
    FFakeIpPlan DeafToCancel() const
    {
        FFakeIpPlan plan = *this;
        plan.honourCancel = false;
        return plan;
    }
    FFakeIpPlan Filling(std::function<void(FIPManagerRequest&)> fn) const
    {
        FFakeIpPlan plan = *this;
        plan.fill = std::move(fn);
        return plan;
    }
    FFakeIpPlan Throwing() const
    {
        FFakeIpPlan plan = *this;
        plan.throwOnRequest = true;
        return plan;
    }
    FFakeIpPlan Silent() const
    {
        FFakeIpPlan plan = *this;
        plan.reportsProgress = false;
        return plan;
    }
};

// What a request held when it was handed over (the bridge reuses its record afterwards).
struct FFakeIpSubmission {
    FIPManagerRequest* request = nullptr;
    int kind = kReqNone;
    std::string file;
    int outCols = 0;
    int outRows = 0;
    FRect crop;
    int outputFormat = 0;
    int colorSpace = 0;
    std::vector<std::pair<std::string, std::string>> props;
    double adjustments[7] = {}; // exposure, shadow, contrast, highlight, saturation, sharpness, fill light
    double colorAdjust[3] = {};
    std::string outputFile;
    int fileType = 0;
    int quality = 0;
    int jpegFlag = 0;
    int version[4] = {};
    std::string software;
    int settingMode = 0;
    std::string settingName;
    int grayX = 0;
    int grayY = 0;
};

class FakeIpPool : public FIPManager
{
public:
    // Kinds without a plan of their own use the default plan.
    void SetPlan(int managerKind, FFakeIpPlan plan) { m_plans[managerKind] = std::move(plan); }
    void SetDefaultPlan(FFakeIpPlan plan) { m_defaultPlan = std::move(plan); }

    bool IsBusy() override { return !m_running.empty(); }
    // Advances the oldest running request by one step.
    void Idle() override;
    void Request(FIPManagerRequest* request) override;

    const std::vector<FFakeIpSubmission>& GetSubmissions() const { return m_submissions; }
    int GetIdleCount() const { return m_iIdles; }
    int GetRunningCount() const { return static_cast<int>(m_running.size()); }

private:
    struct Running {
        FIPManagerRequest* request;
        FFakeIpPlan plan;
        int done;
    };
    void priFinish(FIPManagerRequest* request, const FFakeIpPlan& plan);

    std::map<int, FFakeIpPlan> m_plans;
    FFakeIpPlan m_defaultPlan;
    std::vector<Running> m_running;
    std::vector<FFakeIpSubmission> m_submissions;
    int m_iIdles = 0;
};

// One "IpReply" (or other message) as the relay saw it during the call.
struct FIpReplyRecord {
    std::string message;
    // The reply's class name without the "FUiIpObject" prefix: "Reply", "CopyReply", ...
    std::string replyClass;
    void* request = nullptr;
    int state = -1;
    int errorCode = -1;
    double progress = 0.0;
    std::string url; // copy: destination; save: output
    std::vector<std::pair<std::string, std::string>> props;
    std::string propsNode;
    void* image = nullptr;
    bool histogramReady = false;
    ProcessingSettings settings;
    double gains[3] = {};
    bool value = false; // mark and lock
};

class FRecordingRelay : public FIUiRelay
{
public:
    bool InitRelay(FPropList*) override { return true; }
    void GetName(FWideString& name) override { name = FWideString("RECORDER"); }
    void GetFullName(FWideString& name) override { name = FWideString("RECORDER"); }
    bool ConnectRelays() override { return true; }
    FIUiRelay* GetUiRelay(const FWideString&) override { return nullptr; }
    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool AddEventTarget(const FWideString&, const FWideString&, FIUiRelay*) override { return false; }

    // Runs during each call, after the record was taken.
    void SetOnMessage(std::function<void(const FIpReplyRecord&, void* data)> callback)
    {
        m_onMessage = std::move(callback);
    }
    const std::vector<FIpReplyRecord>& GetRecords() const { return m_records; }
    void Clear() { m_records.clear(); }

private:
    std::vector<FIpReplyRecord> m_records;
    std::function<void(const FIpReplyRecord&, void*)> m_onMessage;
};

// Passes everything to another storage class (kept, not owned), except that its folders
// make no files: no temporary file, no file opened for writing, no rename, no delete.
class FReadOnlyFolderStorageClass : public FIStorageClass
{
public:
    FReadOnlyFolderStorageClass(const FWideString& name, FIStorageClass* inner)
        : m_name(name), m_pInner(inner)
    {
    }

    FIFile* OpenFile(const FWideString& path, int mode) override;
    FIFolder* OpenFolder(const FWideString& path, FWideString& fileName, bool create) override;
    bool GetSpecialPath(int, FWideString&) override { return false; }
    bool ToNativePath(const FWideString&, FWideString&) override { return false; }
    bool FromNativePath(const FWideString&, FWideString&) override { return false; }
    const char16_t* GetName() override { return m_name.GetBuffer(); }
    const char16_t* GetDescription() override { return u"read-only folders"; }
    void Launch(const FWideString&, const char16_t*) override {}
    bool Exists(const FWideString& path, bool& isFolder) override;
    void MoveToTrash(const FWideString& path) override;

private:
    FWideString m_name;
    FIStorageClass* m_pInner;
};
