#include "FakeIpPool.h"

#include <typeinfo>

#include "FException.h"
#include "FIPMImage.h"
#include "FPropList.h"
#include "FUiIpObjectRequest.h"

namespace
{

std::string Narrow(const FWideString& text)
{
    return text.GetNarrow();
}

std::vector<std::pair<std::string, std::string>> PairsOf(const FPropList* list)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const FPropPair* pair = list ? list->GetFirstProp() : nullptr; pair; pair = pair->GetNext())
        pairs.emplace_back(Narrow(pair->GetName()), Narrow(pair->GetValue()));
    return pairs;
}

FFakeIpSubmission Snapshot(FIPManagerRequest* r)
{
    FFakeIpSubmission s;
    s.request = r;
    s.kind = r->m_eKind;
    s.file = Narrow(r->m_usFileName);
    s.outCols = r->m_iOutCols;
    s.outRows = r->m_iOutRows;
    s.crop = r->m_rCrop;
    s.outputFormat = r->m_eOutputFormat;
    s.colorSpace = r->m_iColorSpace;
    s.props = PairsOf(r->m_pImageProps);
    const double adjustments[7] = {r->m_dExposure,   r->m_dShadow,    r->m_dContrast, r->m_dHighlight,
                                   r->m_dSaturation, r->m_dSharpness, r->m_dFillLight};
    std::copy(std::begin(adjustments), std::end(adjustments), s.adjustments);
    std::copy(std::begin(r->m_adColorAdjust), std::end(r->m_adColorAdjust), s.colorAdjust);
    s.outputFile = Narrow(r->m_usOutputFile);
    s.fileType = r->m_eFileType;
    s.quality = r->m_iJPEGQuality;
    s.jpegFlag = r->m_bJPEGFlag;
    std::copy(std::begin(r->m_aiVersion), std::end(r->m_aiVersion), s.version);
    s.software = Narrow(r->m_usSoftwareName);
    s.settingMode = r->m_iSettingMode;
    s.settingName = Narrow(r->m_usSettingName);
    s.grayX = r->m_ptGray.x;
    s.grayY = r->m_ptGray.y;
    return s;
}

} // namespace

void FakeIpPool::Request(FIPManagerRequest* request)
{
    auto found = m_plans.find(request->m_eKind);
    const FFakeIpPlan& plan = found != m_plans.end() ? found->second : m_defaultPlan;
    if (plan.throwOnRequest)
        throw FException("FakeIpPool: request refused");
    m_submissions.push_back(Snapshot(request));
    request->m_Async.m_iErrorCode.store(kErrNone);
    request->m_Async.SetState(kInProgress);
    if (plan.idles <= 0) {
        priFinish(request, plan);
        return;
    }
    m_running.push_back({request, plan, 0});
}

void FakeIpPool::Idle()
{
    ++m_iIdles;
    if (m_running.empty())
        return;
    Running& running = m_running.front();
    FIPManagerRequest* request = running.request;
    if (running.plan.honourCancel && request->m_Async.IsCancelRequested()) {
        m_running.erase(m_running.begin());
        request->m_Async.Cancel();
        return;
    }
    ++running.done;
    if (running.plan.reportsProgress)
        request->m_Async.SetProgress(static_cast<double>(running.done) / running.plan.idles);
    if (running.done < running.plan.idles)
        return;
    const FFakeIpPlan plan = running.plan;
    m_running.erase(m_running.begin());
    priFinish(request, plan);
}

void FakeIpPool::priFinish(FIPManagerRequest* request, const FFakeIpPlan& plan)
{
    if (plan.fill)
        plan.fill(*request);
    if (plan.finalState == kError)
        request->m_Async.Fail(plan.errorCode, "planned failure");
    else
        request->m_Async.SetState(plan.finalState);
}

bool FRecordingRelay::UiRelayMessage(const FWideString& message, void* data)
{
    FIpReplyRecord record;
    record.message = Narrow(message);
    auto* reply = static_cast<FUiIpObjectReply*>(data);
    if (record.message == "IpReply" && reply) {
        FUiIpObjectRequest* request = reply->m_pRequest;
        record.request = request;
        record.state = request->m_Async.GetState();
        record.errorCode = request->m_Async.GetErrorCode();
        record.progress = request->m_Async.GetProgress();
        std::string name = typeid(*reply).name();
        const auto at = name.find("FUiIpObject");
        record.replyClass = at == std::string::npos ? name : name.substr(at + 11);
        if (auto* props = dynamic_cast<FUiIpObjectPropListReply*>(reply)) {
            record.props = PairsOf(props->m_pProps);
            record.propsNode = props->m_pProps ? Narrow(props->m_pProps->GetName()) : std::string();
        }
        if (auto* image = dynamic_cast<FUiIpObjectImageReply*>(reply)) {
            record.image = image->m_pImage;
            record.histogramReady = image->m_pImage && image->m_pImage->GetHistogramPtr();
        }
        if (auto* copy = dynamic_cast<FUiIpObjectCopyReply*>(reply))
            record.url = Narrow(copy->m_usDstURL);
        if (auto* save = dynamic_cast<FUiIpObjectProcAndSaveReply*>(reply))
            record.url = Narrow(save->m_usOutURL);
        if (auto* autoSet = dynamic_cast<FUiIpObjectAutoSetReply*>(reply))
            record.settings = autoSet->m_Settings;
        if (auto* gray = dynamic_cast<FUiIpObjectGetGrayBalanceReply*>(reply))
            std::copy(std::begin(gray->m_adGains), std::end(gray->m_adGains), record.gains);
        if (auto* mark = dynamic_cast<FUiIpObjectMarkReply*>(reply))
            record.value = mark->m_bValue;
        if (auto* lock = dynamic_cast<FUiIpObjectLockReply*>(reply))
            record.value = lock->m_bValue;
    }
    m_records.push_back(record);
    if (m_onMessage)
        m_onMessage(m_records.back(), data);
    return true;
}

namespace
{

class FReadOnlyFolder : public FIFolder
{
public:
    explicit FReadOnlyFolder(FIFolder* inner) : m_pInner(inner) {}
    ~FReadOnlyFolder() override { m_pInner->Release(); }
    FReadOnlyFolder(const FReadOnlyFolder&) = delete;
    FReadOnlyFolder& operator=(const FReadOnlyFolder&) = delete;

    FIFolder* OpenSubFolder(const FWideString& name, bool create) override
    {
        FIFolder* sub = m_pInner->OpenSubFolder(name, false);
        (void)create;
        return sub ? new FReadOnlyFolder(sub) : nullptr;
    }
    FIFile* OpenFile(const FWideString& name, int mode) override
    {
        return (mode & kFileWrite) ? nullptr : m_pInner->OpenFile(name, mode);
    }
    void ListFiles(std::vector<FWideString>& names) override { m_pInner->ListFiles(names); }
    void ListFolders(std::vector<FWideString>& names) override { m_pInner->ListFolders(names); }
    void Rename(const FWideString&, const FWideString&) override
    {
        throw FExceptionFileWrite("read-only folder");
    }
    bool DeleteFile(const FWideString&) override { return false; }
    void DeleteFolder(const FWideString&, int) override { throw FExceptionFileWrite("read-only folder"); }
    FWideString GetURL() override { return m_pInner->GetURL(); }
    FWideString GetNote() override { return m_pInner->GetNote(); }
    void SetTag(int tag) override { m_pInner->SetTag(tag); }
    int64_t GetFreeSpace() override { return 0; }
    bool IsReadOnly() override { return true; }
    bool GetAttributes(int& flags) override
    {
        const bool known = m_pInner->GetAttributes(flags);
        flags |= kFileAttrReadOnly;
        return known;
    }
    int GetDriveType() override { return m_pInner->GetDriveType(); }
    bool Exists(const FWideString& name, bool* isFolder) override { return m_pInner->Exists(name, isFolder); }
    FIFile* CreateTempFile(const FWideString&, FWideString& name) override
    {
        name.Clear();
        return nullptr;
    }
    void ReplaceFile(const FWideString&, const FWideString&) override
    {
        throw FExceptionFileWrite("read-only folder");
    }

private:
    FIFolder* m_pInner;
};

} // namespace

FIFile* FReadOnlyFolderStorageClass::OpenFile(const FWideString& path, int mode)
{
    return (mode & kFileWrite) ? nullptr : m_pInner->OpenFile(path, mode);
}

FIFolder* FReadOnlyFolderStorageClass::OpenFolder(const FWideString& path, FWideString& fileName, bool)
{
    FIFolder* inner = m_pInner->OpenFolder(path, fileName, false);
    return inner ? new FReadOnlyFolder(inner) : nullptr;
}

bool FReadOnlyFolderStorageClass::Exists(const FWideString& path, bool& isFolder)
{
    return m_pInner->Exists(path, isFolder);
}

void FReadOnlyFolderStorageClass::MoveToTrash(const FWideString&)
{
    throw FExceptionFileWrite("read-only folder");
}
