#include "FLatchStorageClass.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "StorageClassRegistry.h"

struct FLatchState {
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    FWideString m_name;
    FWideString m_target;
    std::chrono::milliseconds m_delay{0};
    bool m_bClosed = false;
    int m_iWaiting = 0;
    int64_t m_iReads = 0;

    // The gate in front of every read.
    void Pass()
    {
        std::unique_lock<std::mutex> lock(m_lock);
        ++m_iReads;
        const auto delay = m_delay;
        if (delay.count() > 0) {
            lock.unlock();
            std::this_thread::sleep_for(delay);
            lock.lock();
        }
        if (!m_bClosed)
            return;
        ++m_iWaiting;
        m_changed.notify_all();
        m_changed.wait_for(lock, FLatchStorageClass::kLatchLimit, [this] { return !m_bClosed; });
        --m_iWaiting;
        m_changed.notify_all();
    }

    FWideString Target(const FWideString& path) const
    {
        std::lock_guard<std::mutex> lock(m_lock);
        FWideString url = m_target;
        url += path;
        return url;
    }
};

namespace
{

class FLatchFile : public FIFile
{
public:
    FLatchFile(FIFile* inner, std::shared_ptr<FLatchState> state)
        : m_pInner(inner), m_pState(std::move(state))
    {
    }
    ~FLatchFile() override { m_pInner->Release(); }

    void Seek(uint64_t position) override { m_pInner->Seek(position); }
    uint64_t Tell() override { return m_pInner->Tell(); }
    bool ReadLine(FWideString& line) override
    {
        m_pState->Pass();
        return m_pInner->ReadLine(line);
    }
    int Read(void* buffer, int n) override
    {
        m_pState->Pass();
        return m_pInner->Read(buffer, n);
    }
    int ReadSome(void* buffer, int n) override
    {
        m_pState->Pass();
        return m_pInner->ReadSome(buffer, n);
    }
    void Write(const void* buffer, int n) override { m_pInner->Write(buffer, n); }
    void Flush() override { m_pInner->Flush(); }
    void SetSize(uint64_t size) override { m_pInner->SetSize(size); }
    uint64_t GetSize() override { return m_pInner->GetSize(); }
    FWideString GetURL() override { return m_pInner->GetURL(); }
    void GetInfo(FFileInfo& info) override { m_pInner->GetInfo(info); }
    void SetAttributes(const FFileInfo& info) override { m_pInner->SetAttributes(info); }

private:
    FIFile* m_pInner;
    std::shared_ptr<FLatchState> m_pState;
};

} // namespace

FLatchStorageClass::FLatchStorageClass(const FWideString& name, const FWideString& targetPrefix)
    : m_pState(std::make_shared<FLatchState>())
{
    m_pState->m_name = name;
    m_pState->m_target = targetPrefix;
}

FLatchStorageClass::~FLatchStorageClass()
{
    OpenLatch();
}

FIFile* FLatchStorageClass::OpenFile(const FWideString& path, int mode)
{
    FIFile* inner = OpenFileURL(m_pState->Target(path), mode);
    return inner != nullptr ? new FLatchFile(inner, m_pState) : nullptr;
}

FIFolder* FLatchStorageClass::OpenFolder(const FWideString& path, FWideString& fileName, bool create)
{
    return OpenFolderURL(m_pState->Target(path), fileName, create);
}

bool FLatchStorageClass::GetSpecialPath(int, FWideString&)
{
    return false;
}

bool FLatchStorageClass::ToNativePath(const FWideString& path, FWideString& native)
{
    return URLToNativePath(m_pState->Target(path), native);
}

bool FLatchStorageClass::FromNativePath(const FWideString&, FWideString&)
{
    return false;
}

const char16_t* FLatchStorageClass::GetName()
{
    return m_pState->m_name.GetBuffer();
}

const char16_t* FLatchStorageClass::GetDescription()
{
    return u"Test storage with held reads";
}

void FLatchStorageClass::Launch(const FWideString& path, const char16_t* parameters)
{
    LaunchFileURL(m_pState->Target(path), parameters);
}

bool FLatchStorageClass::Exists(const FWideString& path, bool& isFolder)
{
    return ExistsURL(m_pState->Target(path), isFolder);
}

void FLatchStorageClass::MoveToTrash(const FWideString& path)
{
    MoveToTrashURL(m_pState->Target(path));
}

void FLatchStorageClass::SetTarget(const FWideString& targetPrefix)
{
    std::lock_guard<std::mutex> lock(m_pState->m_lock);
    m_pState->m_target = targetPrefix;
}

void FLatchStorageClass::SetReadDelay(std::chrono::milliseconds delay)
{
    std::lock_guard<std::mutex> lock(m_pState->m_lock);
    m_pState->m_delay = delay;
}

void FLatchStorageClass::CloseLatch()
{
    std::lock_guard<std::mutex> lock(m_pState->m_lock);
    m_pState->m_bClosed = true;
}

void FLatchStorageClass::OpenLatch()
{
    std::lock_guard<std::mutex> lock(m_pState->m_lock);
    m_pState->m_bClosed = false;
    m_pState->m_changed.notify_all();
}

int FLatchStorageClass::GetWaitingReads() const
{
    std::lock_guard<std::mutex> lock(m_pState->m_lock);
    return m_pState->m_iWaiting;
}

bool FLatchStorageClass::WaitForWaitingReads(int n, std::chrono::milliseconds deadline) const
{
    std::unique_lock<std::mutex> lock(m_pState->m_lock);
    return m_pState->m_changed.wait_for(lock, deadline, [&] { return m_pState->m_iWaiting >= n; });
}

int64_t FLatchStorageClass::GetReadCount() const
{
    std::lock_guard<std::mutex> lock(m_pState->m_lock);
    return m_pState->m_iReads;
}

void FLatchStorageClass::ResetControls()
{
    std::lock_guard<std::mutex> lock(m_pState->m_lock);
    m_pState->m_bClosed = false;
    m_pState->m_delay = std::chrono::milliseconds(0);
    m_pState->m_iReads = 0;
    m_pState->m_changed.notify_all();
}

FLatchStorageClass& GetLatchStorageClass()
{
    static FLatchStorageClass* s_pClass = nullptr;
    // A program start run earlier in the same process shuts the registry down and deletes
    // every class in it, this one included: then a new one is registered.
    bool registered = false;
    for (const FStorageClassEntry& entry : GetStorageClassEntries())
        registered = registered || (s_pClass && entry.m_pClass == s_pClass && entry.m_name == u"latch");
    if (!registered) {
        s_pClass = new FLatchStorageClass(u"latch", u"");
        RegisterStorageClass(u"latch", s_pClass);
    }
    return *s_pClass;
}
