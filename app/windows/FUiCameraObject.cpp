#include "FUiCameraObject.h"

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <iterator>
#include <mutex>
#include <utility>
#include <vector>

#include "CamDevice.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FIStorageClass.h"
#include "FOsWallClock.h"
#include "FSCCamera.h"
#include "FUiManagerCreator.h"
#include "FWinThread.h"
#include "RelayEvent.h"
#include "StorageClassRegistry.h"

namespace
{

constexpr int kPollTicks = 30;
constexpr uint32_t kPowerOfTwoAbove = 2097151;
constexpr uint32_t kCardSizesMiB[] = {0,   2,   4,   8,   16,  24,  32,  48,  64,  96,   128,
                                      160, 192, 224, 256, 320, 340, 384, 512, 640, 1024, 2048};

// Releases a storage object at the end of the scope.
template <typename T>
struct FHeld {
    T* object = nullptr;
    explicit FHeld(T* held) : object(held) {}
    ~FHeld()
    {
        if (object)
            object->Release();
    }
    FHeld(const FHeld&) = delete;
    FHeld& operator=(const FHeld&) = delete;
};

FIFile* OpenQuietly(const FWideString& url, int mode)
{
    try {
        return OpenFileURL(url, mode);
    } catch (const FException&) {
        return nullptr;
    }
}

FIFolder* OpenFolderQuietly(const FWideString& url)
{
    try {
        FWideString fileName;
        return OpenFolderURL(url, fileName, false);
    } catch (const FException&) {
        return nullptr;
    }
}

} // namespace

uint32_t NominalCardCapacity(uint32_t kib)
{
    if (kib > kPowerOfTwoAbove) {
        uint64_t lower = 1;
        while (lower * 2 <= kib)
            lower *= 2;
        const uint64_t upper = lower * 2;
        const uint64_t nominal = (kib - lower < upper - kib) ? lower : upper;
        return nominal > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(nominal);
    }
    const uint32_t m = kib / 1024;
    size_t index = 0;
    while (index < std::size(kCardSizesMiB) && kCardSizesMiB[index] < m)
        ++index;
    if (index == std::size(kCardSizesMiB))
        index = std::size(kCardSizesMiB) - 1;
    const uint32_t above = kCardSizesMiB[index];
    const uint32_t below = index > 0 ? kCardSizesMiB[index - 1] : 0;
    const uint32_t distAbove = above > m ? above - m : m - above;
    const uint32_t distBelow = m > below ? m - below : below - m;
    return (distBelow <= distAbove ? below : above) * 1024;
}

// The worker's queue: tasks talk to the camera and answer with what the window does next.
struct FUiCameraObject::Link {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::function<std::function<void()>()>> tasks;
    std::deque<std::function<void()>> answers;
    bool stop = false;
    bool finished = false;
    // Tasks queued and ended so far; each task's id is its place in the queue.
    uint64_t queued = 0;
    uint64_t ended = 0;
};

// What one poll read from the camera.
struct FUiCameraObject::Reading {
    bool connected = false;
    FWideString rootURL;
    bool powerRead = false;
    uint32_t powerWord = 0;
    bool cardOpened = false;
    int cardGot = 0;
    uint8_t card[8] = {};
};

namespace
{

using Link = FUiCameraObject::Link;
using Reading = FUiCameraObject::Reading;

FWideString DeviceURL(const FWideString& root, const char* name)
{
    FWideString url = root;
    url += name;
    return url;
}

uint32_t LittleEndianWord(const uint8_t* bytes)
{
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// Runs on the worker.
Reading ReadCamera(bool wasConnected, const FWideString& root, bool connectionOnly)
{
    Reading r;
    if (wasConnected) {
        FHeld<FIFolder> folder(OpenFolderQuietly(root));
        r.connected = folder.object != nullptr;
        if (r.connected)
            r.rootURL = root;
    } else {
        FHeld<FIFolder> list(OpenFolderQuietly(FWideString("camera://")));
        std::vector<FWideString> names;
        if (list.object) {
            try {
                list.object->ListFolders(names);
            } catch (const FException&) {
                names.clear();
            }
        }
        if (!names.empty()) {
            FWideString url("camera://");
            url += names.front();
            FHeld<FIFolder> camera(OpenFolderQuietly(url));
            r.connected = camera.object != nullptr;
            if (r.connected)
                r.rootURL = url;
        }
    }
    if (!r.connected || connectionOnly)
        return r;
    {
        uint8_t bytes[4] = {};
        FHeld<FIFile> file(OpenQuietly(DeviceURL(r.rootURL, "/dev/Battery"), kFileRead));
        if (file.object) {
            try {
                file.object->Read(bytes, 4);
                r.powerRead = true;
                r.powerWord = LittleEndianWord(bytes);
            } catch (const FException&) {
                DebugTrace("Read camera battery failed.\n");
            }
        }
    }
    FHeld<FIFile> file(OpenQuietly(DeviceURL(r.rootURL, "/dev/CF"), kFileRead));
    r.cardOpened = file.object != nullptr;
    if (!r.cardOpened)
        return r;
    try {
        while (r.cardGot < 8) {
            const int n = file.object->ReadSome(r.card + r.cardGot, 8 - r.cardGot);
            if (n <= 0)
                break;
            r.cardGot += n;
        }
    } catch (const FException&) {
        DebugTrace("Read CFCard status failed.\n");
        r.cardGot = 0;
    }
    return r;
}

int CameraThreadMain(void* argument)
{
    std::unique_ptr<std::shared_ptr<Link>> held(static_cast<std::shared_ptr<Link>*>(argument));
    std::shared_ptr<Link> link = std::move(*held);
    std::unique_lock lock(link->lock);
    for (;;) {
        link->changed.wait(lock, [&] { return link->stop || !link->tasks.empty(); });
        if (link->stop)
            break;
        auto task = std::move(link->tasks.front());
        link->tasks.pop_front();
        lock.unlock();
        std::function<void()> answer;
        try {
            answer = task();
        } catch (...) {
            DebugTrace("FUiCameraObject: a camera call failed\n");
        }
        lock.lock();
        if (answer)
            link->answers.push_back(std::move(answer));
        ++link->ended;
        link->changed.notify_all();
    }
    link->finished = true;
    link->changed.notify_all();
    return 0;
}

} // namespace

FUiCameraObject::FUiCameraObject(const char* typeName) : FUiObject(typeName)
{
    m_pOnConnected = AddEvent(FWideString("ON_CONNECTED"));
    m_pOnPowerType = AddEvent(FWideString("ON_POWER_TYPE"));
    m_pOnAcPower = AddEvent(FWideString("ON_AC_POWER"));
    m_pOnBatteryPower = AddEvent(FWideString("ON_BATTERY_POWER"));
    m_pOnCardPresent = AddEvent(FWideString("ON_CFCARD_PRESENT"));
    m_pOnGetCameraTime = AddEvent(FWideString("ON_GET_CAMERA_TIME"));
    m_pOnStorageChange = AddEvent(FWideString("ON_STORAGE_CHANGE"));
}

FUiCameraObject::~FUiCameraObject()
{
    if (m_pLink) {
        std::unique_lock lock(m_pLink->lock);
        m_pLink->stop = true;
        m_pLink->changed.notify_all();
        // Only a camera call already under way can hold this up.
        m_pLink->changed.wait(lock, [&] { return m_pLink->finished; });
    }
    if (m_pThread) {
        while (!m_pThread->IsDone())
            SleepMilliseconds(1);
        DeleteThread(m_pThread);
    }
    try {
        CamLinkShutdown();
    } catch (...) {
    }
}

bool FUiCameraObject::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    return InitNonVisualUiObject(this, app, window, parent, tag);
}

bool FUiCameraObject::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == FWideString("Post Creation Initialization")) {
        FWideString path;
        if (!FindStorageClass(FWideString("camera://"), path))
            RegisterCameraStorageClass();
        priPoll(false, false);
        return true;
    }
    if (message == FWideString("SetTime")) {
        if (m_bConnected)
            priSetTime();
        return true;
    }
    if (message == FWideString("GetTime")) {
        if (m_bConnected)
            priGetTime();
        return true;
    }
    if (message == FWideString("IsCameraConnected")) {
        if (!data)
            return false;
        // A camera that does not answer in time counts as it was last seen.
        priPoll(false, true);
        *static_cast<bool*>(data) = m_bConnected;
        return true;
    }
    return false;
}

void FUiCameraObject::Tick(int /*elapsedMs*/)
{
    priTakeAnswers();
    ++m_iTickCount;
    if (m_iTickCount % kPollTicks != 0)
        return;
    priPoll(true, false);
}

uint64_t FUiCameraObject::priQueue(std::function<std::function<void()>()> task)
{
    if (!m_pLink) {
        m_pLink = std::make_shared<Link>();
        auto* handover = new std::shared_ptr<Link>(m_pLink);
        m_pThread = CreateWinThread(CameraThreadMain, handover, 2);
        if (!m_pThread || (m_pThread->IsDone() && m_pThread->GetResult() == kThreadResultFailed)) {
            delete handover;
            DeleteThread(m_pThread);
            m_pLink.reset();
            DebugTrace("FUiCameraObject: no thread to talk to the camera\n");
            return 0;
        }
    }
    std::lock_guard lock(m_pLink->lock);
    m_pLink->tasks.push_back(std::move(task));
    m_pLink->changed.notify_all();
    return ++m_pLink->queued;
}

void FUiCameraObject::priWaitFor(uint64_t id)
{
    if (!m_pLink || id == 0)
        return;
    {
        const auto deadline = std::chrono::steady_clock::now() + m_DeviceWait;
        std::unique_lock lock(m_pLink->lock);
        m_pLink->changed.wait_until(lock, deadline, [&] { return m_pLink->ended >= id; });
    }
    priTakeAnswers();
}

void FUiCameraObject::priTakeAnswers()
{
    if (!m_pLink)
        return;
    for (;;) {
        std::function<void()> answer;
        {
            std::lock_guard lock(m_pLink->lock);
            if (m_pLink->answers.empty())
                return;
            answer = std::move(m_pLink->answers.front());
            m_pLink->answers.pop_front();
        }
        answer();
    }
}

// Connection, then power and card; at start the card comes before the power.
void FUiCameraObject::priPoll(bool powerFirst, bool connectionOnly)
{
    // A camera still busy with the last poll is not asked again.
    if (m_bPollPending) {
        priWaitFor(m_nPollTask);
        return;
    }
    const bool wasConnected = m_bConnected;
    const FWideString root = m_usRootURL;
    m_nPollTask = priQueue([this, wasConnected, root, powerFirst, connectionOnly]() -> std::function<void()> {
        auto reading = std::make_shared<Reading>(ReadCamera(wasConnected, root, connectionOnly));
        return [this, reading, powerFirst, connectionOnly] {
            m_bPollPending = false;
            priApplyConnection(*reading);
            if (connectionOnly)
                return;
            if (powerFirst) {
                priApplyPower(*reading);
                priApplyCard(*reading);
            } else {
                priApplyCard(*reading);
                priApplyPower(*reading);
            }
        };
    });
    m_bPollPending = m_nPollTask != 0;
    priWaitFor(m_nPollTask);
}

void FUiCameraObject::priApplyConnection(const Reading& reading)
{
    if (m_bConnected && !reading.connected) {
        m_bConnected = false;
        m_usRootURL = FWideString();
        m_pOnConnected->Fire(nullptr);
        m_pOnCardPresent->Fire(nullptr);
    } else if (!m_bConnected && reading.connected) {
        m_bConnected = true;
        m_usRootURL = reading.rootURL;
        m_pOnConnected->Fire(&m_usRootURL);
    }
}

void FUiCameraObject::priApplyPower(const Reading& reading)
{
    if (!m_bConnected || !reading.powerRead)
        return;
    const uint32_t word = reading.powerWord;
    if (word == 0)
        return;
    const int type = (word & 0x88) ? 1 : 0;
    if (type == 1)
        m_pOnAcPower->Fire(nullptr);
    else
        m_pOnBatteryPower->Fire(nullptr);
    if (type != m_iPowerType) {
        m_iPowerType = type;
        m_pOnPowerType->Fire(&m_iPowerType);
    }
}

void FUiCameraObject::priApplyCard(const Reading& reading)
{
    if (!m_bConnected) {
        if (m_bCardKnown) {
            m_bCardKnown = false;
            m_uCardCapacity = m_uCardFree = 0;
            m_iCardUsed = 0;
            m_pOnCardPresent->Fire(nullptr);
            m_pOnStorageChange->Fire(&m_iCardUsed);
        }
        return;
    }
    if (!reading.cardOpened || reading.cardGot < 8)
        return;
    const uint32_t capacity = LittleEndianWord(reading.card);
    const uint32_t free = LittleEndianWord(reading.card + 4);
    if (capacity > 0 && (!m_bCardKnown || free != m_uCardFree)) {
        m_uCardCapacity = capacity;
        if (!m_bCardKnown) {
            int nominal = static_cast<int>(std::min<uint32_t>(NominalCardCapacity(capacity), INT32_MAX));
            m_pOnCardPresent->Fire(&nominal);
        }
        const uint32_t used = capacity > free ? capacity - free : 0;
        m_iCardUsed = static_cast<int32_t>(std::min<uint32_t>(used, INT32_MAX));
        m_bCardKnown = true;
        m_uCardFree = free;
        m_pOnStorageChange->Fire(&m_iCardUsed);
        return;
    }
    if (m_bCardKnown && capacity == 0) {
        m_uCardFree = free;
        m_bCardKnown = false;
        m_uCardCapacity = 0;
        m_iCardUsed = 0;
        m_pOnCardPresent->Fire(nullptr);
        m_pOnStorageChange->Fire(&m_iCardUsed);
    }
}

void FUiCameraObject::priSetTime()
{
    const int64_t now = GetOsCalendarTime();
    const int64_t local = now + GetOsLocalTimeOffset(now);
    const uint32_t word = static_cast<uint32_t>(local);
    const FWideString url = DeviceURL(m_usRootURL, "/dev/Time");
    priWaitFor(priQueue([url, word]() -> std::function<void()> {
        const uint8_t bytes[4] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8),
                                  static_cast<uint8_t>(word >> 16), static_cast<uint8_t>(word >> 24)};
        FHeld<FIFile> file(OpenQuietly(url, kFileWrite));
        if (!file.object)
            return {};
        try {
            file.object->Write(bytes, 4);
        } catch (const FException&) {
            DebugTrace("Write camera time failed.\n");
        }
        return {};
    }));
}

void FUiCameraObject::priGetTime()
{
    const FWideString url = DeviceURL(m_usRootURL, "/dev/Time");
    priWaitFor(priQueue([this, url]() -> std::function<void()> {
        uint8_t bytes[4] = {};
        {
            FHeld<FIFile> file(OpenQuietly(url, kFileRead));
            if (!file.object)
                return {};
            try {
                file.object->Read(bytes, 4);
            } catch (const FException&) {
                DebugTrace("Read camera time failed.\n");
                return {};
            }
        }
        const int32_t time = static_cast<int32_t>(LittleEndianWord(bytes));
        return [this, time] {
            m_iCameraTime = time;
            m_pOnGetCameraTime->Fire(&m_iCameraTime);
        };
    }));
}

bool RegisterCameraObject(FIUiObjectFactory* factory)
{
    return RegisterUiManager<FUiCameraObject>(factory, "CAMERA_OBJECT");
}
