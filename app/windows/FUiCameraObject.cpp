#include "FUiCameraObject.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <iterator>
#include <vector>

#include "CamDevice.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FIStorageClass.h"
#include "FOsWallClock.h"
#include "FSCCamera.h"
#include "FUiManagerCreator.h"
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
        // A class already registered (a second object, or a test's stand-in) is kept.
        FWideString path;
        if (!FindStorageClass(FWideString("camera://"), path))
            RegisterCameraStorageClass();
        priCheckConnection();
        priCheckCard();
        priCheckPower();
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
        *static_cast<bool*>(data) = priCheckConnection();
        return true;
    }
    return false;
}

void FUiCameraObject::Tick(int /*elapsedMs*/)
{
    ++m_iTickCount;
    if (m_iTickCount % kPollTicks != 0)
        return;
    priCheckConnection();
    priCheckPower();
    priCheckCard();
}

FWideString FUiCameraObject::priDeviceURL(const char* name) const
{
    FWideString url = m_usRootURL;
    url += name;
    return url;
}

bool FUiCameraObject::priCheckConnection()
{
    if (m_bConnected) {
        FHeld<FIFolder> root(OpenFolderQuietly(m_usRootURL));
        if (root.object)
            return true;
        m_bConnected = false;
        m_usRootURL = FWideString();
        m_pOnConnected->Fire(nullptr);
        m_pOnCardPresent->Fire(nullptr);
        return false;
    }
    FHeld<FIFolder> list(OpenFolderQuietly(FWideString("camera://")));
    if (!list.object)
        return false;
    std::vector<FWideString> names;
    try {
        list.object->ListFolders(names);
    } catch (const FException&) {
        return false;
    }
    if (names.empty())
        return false;
    FWideString url("camera://");
    url += names.front();
    FHeld<FIFolder> camera(OpenFolderQuietly(url));
    if (camera.object) {
        m_bConnected = true;
        m_usRootURL = url;
        m_pOnConnected->Fire(&m_usRootURL);
    }
    return m_bConnected;
}

void FUiCameraObject::priCheckPower()
{
    if (!m_bConnected)
        return;
    uint8_t bytes[4] = {};
    {
        FHeld<FIFile> file(OpenQuietly(priDeviceURL("/dev/Battery"), kFileRead));
        if (!file.object)
            return;
        try {
            file.object->Read(bytes, 4);
        } catch (const FException&) {
            DebugTrace("Read camera battery failed.\n");
            return;
        }
    }
    const uint32_t word = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
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

void FUiCameraObject::priCheckCard()
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
    uint8_t bytes[8] = {};
    int got = 0;
    {
        FHeld<FIFile> file(OpenQuietly(priDeviceURL("/dev/CF"), kFileRead));
        if (!file.object)
            return;
        try {
            while (got < 8) {
                const int n = file.object->ReadSome(bytes + got, 8 - got);
                if (n <= 0)
                    break;
                got += n;
            }
        } catch (const FException&) {
            DebugTrace("Read CFCard status failed.\n");
            got = 0;
        }
    }
    if (got < 8)
        return;
    const uint32_t capacity =
        bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    const uint32_t free = bytes[4] | bytes[5] << 8 | bytes[6] << 16 | static_cast<uint32_t>(bytes[7]) << 24;
    if (capacity > 0 && (!m_bCardKnown || free != m_uCardFree)) {
        m_uCardCapacity = capacity;
        if (!m_bCardKnown) {
            int nominal = static_cast<int>(std::min<uint32_t>(NominalCardCapacity(capacity), INT32_MAX));
            m_pOnCardPresent->Fire(&nominal);
        }
        // A camera that claims more free than room counts as full, never negative.
        const uint32_t used = capacity > free ? capacity - free : 0;
        m_iCardUsed = static_cast<int32_t>(std::min<uint32_t>(used, INT32_MAX));
        m_bCardKnown = true;
        m_uCardFree = free;
        m_pOnStorageChange->Fire(&m_iCardUsed);
        return;
    }
    if (m_bCardKnown && capacity == 0) {
        // A removed card holds nothing: used is 0, not minus the free space.
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
    const uint8_t bytes[4] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8),
                              static_cast<uint8_t>(word >> 16), static_cast<uint8_t>(word >> 24)};
    FHeld<FIFile> file(OpenQuietly(priDeviceURL("/dev/Time"), kFileWrite));
    if (!file.object)
        return;
    try {
        file.object->Write(bytes, 4);
    } catch (const FException&) {
        DebugTrace("Write camera time failed.\n");
    }
}

void FUiCameraObject::priGetTime()
{
    uint8_t bytes[4] = {};
    {
        FHeld<FIFile> file(OpenQuietly(priDeviceURL("/dev/Time"), kFileRead));
        if (!file.object)
            return;
        // A short answer is no time: nothing is reported, and nothing escapes to the script.
        try {
            file.object->Read(bytes, 4);
        } catch (const FException&) {
            DebugTrace("Read camera time failed.\n");
            return;
        }
    }
    m_iCameraTime = static_cast<int32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 |
                                         static_cast<uint32_t>(bytes[3]) << 24);
    m_pOnGetCameraTime->Fire(&m_iCameraTime);
}

bool RegisterCameraObject(FIUiObjectFactory* factory)
{
    return RegisterUiManager<FUiCameraObject>(factory, "CAMERA_OBJECT");
}
