#include "FUiReviewWindow.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <utility>

#include "FDebugTrace.h"
#include "FEngineAccess.h"
#include "FException.h"
#include "FIPEngineService.h"
#include "FIPMImage.h"
#include "FIPManager.h"
#include "FIPManagerRequest.h"
#include "FIStorageClass.h"
#include "FIUiApp.h"
#include "FImageFileListEntry.h"
#include "FPropList.h"
#include "FUiImageView.h"
#include "FUiIpObject.h"
#include "FUiMultiLangString.h"
#include "FUiObjectFactory.h"
#include "StorageClassRegistry.h"

namespace
{

const char* const kEvents[] = {
    "ON_INIT",
    "ON_NEW_IMAGE_INFO",
    "ON_WHITE_BALANCE_CHANGED",
    "ON_IMAGE_MARKED_STATE",
    "ON_IMAGE_LOCKED_STATE",
    "ON_GET_IMAGE",
    "ON_GET_PREVIEW",
    "ON_DISPLAY_IMAGE",
    "ON_DISPLAY_HISTOGRAM",
    "ON_GET_LOUPE_IMAGE",
    "ON_DISPLAY_LOUPE_IMAGE",
    "ON_LOUPE_MAG_CHANGE",
    "ON_BEGIN_PROCESSING",
    "ON_END_PROCESSING",
    "ON_SHOW_SAVE_IMAGE_DLG",
    "ON_SAVE_IMAGE",
    "ON_GET_CUSTOM_SETTING",
    "ON_SEND_CUSTOM_NAME",
    "ON_SAVE_SETTINGS",
    "ON_SET_DEFAULT_SETTINGS",
    "ON_SET_FILE_X",
    "ON_SET_FILE_Y",
    "ON_SELECT_AUTO",
    "ON_SELECT_CUSTOM",
    "ON_SELECT_DEFAULT",
    "ON_GET_SAVED_SETTING",
    "ON_TELL_SLIDER",
    "ON_CHECK_MENU_DEFAULT",
    "ON_CHECK_MENU_AUTO",
    "ON_CHECK_MENU_CUSTOM",
    "ON_SET_CURRENT_UNSAVED",
    "ON_SEND_CUSTOM",
    "ON_BLANK_SETTING",
    "ON_NEW_IMAGENAME",
    "ON_AT_END_OF_IMAGE_LIST",
    "ON_NOT_AT_END_OF_IMAGE_LIST",
    "ON_AT_START_OF_IMAGE_LIST",
    "ON_NOT_AT_START_OF_IMAGE_LIST",
    "ON_LOUPE_ENABLED",
    "ON_GET_PREV_VISIBLE_IMAGE",
    "ON_GET_NEXT_VISIBLE_IMAGE",
    "ON_GET_IMAGE_LIST_POS",
    "ON_IMAGE_ERROR",
    "ON_FILE_ERROR",
    "ON_NO_CAMERA_ERROR",
    "ON_SET_ERROR_REPLY",
    "ON_CLOSE_WINDOW",
    "ON_GRAY_BAL",
    "ON_GRAY_BALANCE_ENABLED",
    "ON_IS_ROTATE_ALLOWED",
    "ON_UPDATE_IMAGE",
    "ON_DELETING_IMAGE",
    "ON_CLEAR_IMAGE",
    "ON_OPEN_ANOTHER",
    "ON_REVIEW_IMAGE",
    "ON_SET_REPLY",
    "ON_SET_DELETE_TEXT",
    "ON_BRISAL_IMAGE",
    "ON_LOCKED_IMAGE",
    "ON_SHOW_EXPOSURE_WARNING",
    "ON_HIDE_EXPOSURE_WARNING",
    "ON_SHOW_LOUPE",
    "ON_HIDE_LOUPE",
    "ON_SHOW_WHITEBAL_DLG",
    "ON_SET_WHITEBAL_FILENAME",
    "ON_SET_WHITEBAL_REPLY",
    "ON_SET_WHITEBAL",
    "ON_SET_WHITEBAL_NAME",
    "ON_GOT_WHITE_BALS",
    "ON_SET_MENU_UNMARK",
    "ON_SET_MENU_MARK",
    "ON_SET_MENU_UNLOCK",
    "ON_SET_MENU_LOCK",
    "ON_NEW_WINDOW_TITLE_POSTFIX",
    "ON_LOUPE_OFF_IMAGE",
    "ON_DIRECTORY_READ_ONLY",
    "ON_DIRECTORY_NOT_READ_ONLY",
    "ON_ALLOW_SAVE_Q7F_SETTINGS",
    "ON_GET_CAMERA_STATUS",
    "ON_CAN_ROTATE",
    "ON_CAN_MARK",
    "ON_CAN_SAVE_Q7F_SETINGS",
    "ON_REV_LANG_DIALOG",
};

const char* const kWbNames[12] = {"Auto",        "Sunlight", "Daylight",     "Shade",
                                  "Overcast",    "Cloudy",   "Incandescent", "Tungsten",
                                  "Fluorescent", "Flash",    "Custom",       "Monochrome"};
const char* const kWbKeys[12] = {"AutoWBString",         "SunlightWBString", "DaylightWBString",
                                 "ShadeWBString",        "OvercastWBString", "CloudyWBString",
                                 "IncandescentWBString", "TungstenWBString", "FluorescentWBString",
                                 "FlashWBString",        "CustomWBString",   "MonochromeWBString"};

const double kLoupeSmall = std::sqrt(1.0 / 3.0);
const double kLoupeLarge = std::sqrt(3.0);
// The loupe's smallest step enlarges what the view shows by at least this much.
constexpr double kLoupeFirstOverView = 1.5;

// How long shutdown waits for the bridges to answer cancelled requests.
constexpr auto kShutdownBound = std::chrono::seconds(2);

template <typename T>
void ReleaseHeld(T*& object) noexcept
{
    T* held = std::exchange(object, nullptr);
    if (held)
        held->Release();
}

void TakeImage(FIPMImage*& holder, FIPMImage* image)
{
    if (image)
        image->AddRef();
    ReleaseHeld(holder);
    holder = image;
}

std::unique_ptr<FUiIpObjectFileReq> MakeRecord(int purpose)
{
    switch (purpose) {
    case FUiReviewWindow::kPreview:
        return std::make_unique<FUiIpObjectPreviewReq>();
    case FUiReviewWindow::kIlluminants:
        return std::make_unique<FUiIpObjectIlluminantsReq>();
    case FUiReviewWindow::kAutoSet:
        return std::make_unique<FUiIpObjectAutoSetReq>();
    case FUiReviewWindow::kProcessed:
    case FUiReviewWindow::kLoupe:
        return std::make_unique<FUiIpObjectProcessedReq>();
    case FUiReviewWindow::kGrayBalance:
        return std::make_unique<FUiIpObjectGetGrayBalanceReq>();
    default:
        return std::make_unique<FUiIpObjectWhiteBalReq>();
    }
}

// A value copy of what is asked; the record keeps its own status block and sender fields.
template <typename T>
void CopyAsked(FUiIpObjectFileReq& to, const FUiIpObjectFileReq& from)
{
    const FAsyncStatus status = to.m_Async;
    const int userData = to.m_nUserData;
    const bool progress = to.m_bProgressReplies;
    FIUiRelay* const relay = to.m_pReturnRelay;
    static_cast<T&>(to) = static_cast<const T&>(from);
    to.m_Async = status;
    to.m_nUserData = userData;
    to.m_bProgressReplies = progress;
    to.m_pReturnRelay = relay;
}

void CopyRecord(FUiIpObjectFileReq& to, const FUiIpObjectFileReq& from)
{
    switch (to.m_eKind) {
    case kUiReqPreview:
        CopyAsked<FUiIpObjectPreviewReq>(to, from);
        break;
    case kUiReqProcessed:
        CopyAsked<FUiIpObjectProcessedReq>(to, from);
        break;
    case kUiReqGetGrayBalance:
        CopyAsked<FUiIpObjectGetGrayBalanceReq>(to, from);
        break;
    case kUiReqWhiteBal:
        CopyAsked<FUiIpObjectWhiteBalReq>(to, from);
        break;
    default:
        to.m_usFileURL = from.m_usFileURL;
        break;
    }
}

FWideString TitlePostfix(const FImageFileListEntry& entry)
{
    FWideString text(" - ");
    text += entry.m_usFileName;
    return text;
}

bool Finite(double value)
{
    return std::isfinite(value);
}

class FUiReviewWindowCreator : public FIUiObjectCreator
{
public:
    explicit FUiReviewWindowCreator(FIPManager* pool) : m_pPool(pool) {}
    FIUiObject* CreateUiObject(const char* typeName) override
    {
        return new FUiReviewWindow(typeName, m_pPool);
    }

private:
    FIPManager* m_pPool;
};

} // namespace

FUiReviewWindow::FUiReviewWindow(const char* typeName, FIPManager* pool) : FUiObject(typeName), m_pPool(pool)
{
    if (!m_pPool) {
        m_pPool = GetIPManagerPool();
        m_bOwnPool = true;
    }
    for (const char* name : kEvents)
        AddEvent(FWideString(name));
    for (int purpose = 0; purpose < kPurposeCount; ++purpose) {
        Slot& slot = m_slots[purpose];
        slot.next = MakeRecord(purpose);
        slot.inFlight = MakeRecord(purpose);
        for (FUiIpObjectFileReq* record : {slot.next.get(), slot.inFlight.get()}) {
            record->m_nUserData = purpose;
            record->m_pReturnRelay = this;
            record->m_bProgressReplies = false;
        }
    }
}

FUiReviewWindow::~FUiReviewWindow()
{
    m_pNextEntry.reset();
    // The script destroys the bridges first (their destructors answer every record they
    // hold as cancelled), so normally nothing is busy here; the wait is bounded in any case.
    const auto deadline = std::chrono::steady_clock::now() + kShutdownBound;
    int pass = 0;
    FEngineAccess engine(m_pPool);
    while (!CancelAll() && std::chrono::steady_clock::now() < deadline) {
        DebugTrace("---FUiReviewWindow::~FUiReviewWindow() looping until idle. [%d]\n", pass++);
        if (FIPEngineService* service = engine.Peek())
            service->Deliver();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ReleaseHeld(m_pPreviewImage);
    ReleaseHeld(m_pProcessedImage);
    ReleaseHeld(m_pLoupeImage);
    if (m_bOwnPool)
        ReleaseIPManager(&m_pPool);
}

bool FUiReviewWindow::CancelAll()
{
    for (Slot& slot : m_slots) {
        slot.pending = false;
        if (slot.inFlight->m_Async.IsInProgress())
            slot.inFlight->m_Async.RequestCancel();
    }
    return IsQuiet();
}

bool FUiReviewWindow::IsQuiet() const
{
    for (const Slot& slot : m_slots)
        if (slot.inFlight->m_Async.IsInProgress())
            return false;
    return true;
}

bool FUiReviewWindow::IsIdle() const
{
    if (m_nEngineState != kIdle || m_pNextEntry || m_bWaitingForCancels)
        return false;
    for (const Slot& slot : m_slots)
        if (slot.pending || slot.inFlight->m_Async.GetState() != kInitialized)
            return false;
    return true;
}

bool FUiReviewWindow::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    InitNonVisualUiObject(this, app, window, parent, tag);
    if (tag) {
        m_usFStop = tag->GetString(FWideString("FStopPrefixString"), FWideString());
        m_usSeconds = tag->GetString(FWideString("SecondsSuffixString"), FWideString());
        m_usBulb = tag->GetString(FWideString("BulbModeFixString"), FWideString());
        m_usSpacer = tag->GetString(FWideString("SpacerString"), FWideString());
        for (int i = 0; i < 12; ++i)
            m_aWbStringNames[i] = tag->GetString(FWideString(kWbKeys[i]), FWideString());
        const double initial = tag->GetFloat(FWideString("LoupeInitialMag"), 1.0);
        m_dLoupeMag = Finite(initial) ? initial : 1.0;
        const double low = tag->GetFloat(FWideString("LoupeMinMag"), 1.0);
        const double high = tag->GetFloat(FWideString("LoupeMaxMag"), 4.0);
        m_dLoupeMin = Finite(low) ? low : 1.0;
        m_dLoupeMax = Finite(high) ? high : 4.0;
    }
    if (app) {
        if (FPropList* root = app->GetScriptRoot())
            m_nLoupeType = root->GetInt(FWideString("LoupeType"), 2);
        FWideString language;
        app->AddLanguageListener(this, language);
    }
    return true;
}

// ---------------------------------------------------------------- events

void FUiReviewWindow::priFire(const char* event, void* data)
{
    if (RelayEvent* relay = FindEvent(FWideString(event)))
        relay->Fire(data);
}

void FUiReviewWindow::priFireBool(const char* event, bool value)
{
    priFire(event, &value);
}

void FUiReviewWindow::priFireText(const char* event, const FWideString& text)
{
    FWideString copy = text;
    priFire(event, &copy);
}

void FUiReviewWindow::priFireDouble(const char* event, double value)
{
    priFire(event, &value);
}

// ---------------------------------------------------------------- messages

bool FUiReviewWindow::UiRelayMessage(const FWideString& message, void* data)
{
    const std::string name = message.GetNarrow();
    // Messages that carry no data.
    if (name == "Post Creation Initialization") {
        priRestoreState();
        return true;
    }
    if (name == "we're goin' bye-bye") {
        priStoreState();
        return true;
    }
    if (name == "GotoPrevImage" || name == "GotoNextImage") {
        priGoNeighbour(name == "GotoNextImage");
        return true;
    }
    if (name == "ImageListChanged") {
        if (m_pEntry) {
            priFire("ON_GET_IMAGE_LIST_POS", m_pEntry.get());
            if (!m_bDeleting)
                priPositionEvents();
        }
        return true;
    }
    if (name == "ToggleLoupe") {
        m_bLoupeOn = !m_bLoupeOn;
        priFire(m_bLoupeOn ? "ON_SHOW_LOUPE" : "ON_HIDE_LOUPE");
        priFireBool("ON_LOUPE_ENABLED", m_bLoupeOn);
        if (FPropList* state = m_pApp ? m_pApp->GetPersistentData(m_usFullName) : nullptr)
            state->SetBool(FWideString("LoupeState"), m_bLoupeOn);
        return true;
    }
    if (name == "IncLoupeMag" || name == "DecLoupeMag") {
        const bool up = name == "IncLoupeMag";
        if (m_nLoupeType == 2) {
            if (up)
                m_dLoupeMag = m_dLoupeMag < 1.0 ? 1.0 : kLoupeLarge;
            else
                m_dLoupeMag = m_dLoupeMag > 1.0 ? 1.0 : kLoupeSmall;
        } else if (up && m_dLoupeMag < m_dLoupeMax) {
            m_dLoupeMag += 1.0;
        } else if (!up && m_dLoupeMag > m_dLoupeMin) {
            m_dLoupeMag -= 1.0;
        } else {
            return true;
        }
        priLoupeText();
        return true;
    }
    if (name == "SetStringToCurrentUnsaved") {
        priFire("ON_SET_CURRENT_UNSAVED");
        return true;
    }
    if (name == "ManualAdjust") {
        priManualAdjust();
        return true;
    }
    if (name == "ResetAdjustmentControls") {
        if (m_nSettingMode == CustomSettingMode) {
            m_Custom.Exposure = m_Custom.Blackness = m_Custom.Contrast = m_Custom.Highlight = 0.0;
            m_Custom.Saturation = m_Custom.Sharpness = m_Custom.Retinex = 0.0;
            // The controls show what the picture is made with.
            priFire("ON_SEND_CUSTOM", &m_Custom);
            priQueueProcessed();
            priEvaluatePermission();
        }
        return true;
    }
    if (name == "WhiteBalPressed") {
        if (m_pEntry && m_pEntry->m_bRaw && m_bIlluminantsReceived) {
            priFire("ON_SHOW_WHITEBAL_DLG");
            priFireText("ON_SET_WHITEBAL_FILENAME", m_pEntry->m_usFileName);
            priFire("ON_SET_WHITEBAL_REPLY", static_cast<FIUiRelay*>(this));
            std::vector<FWideString> names = m_illuminantNames;
            priFire("ON_SET_WHITEBAL", &names);
            priFireText("ON_SET_WHITEBAL_NAME", m_usWhiteBalance);
        }
        return true;
    }
    if (name == "ToggleGrayBalance") {
        priSetGrayBalance(!m_bGrayBalanceOn);
        return true;
    }
    if (name == "ToggleMark") {
        priToggleMark();
        return true;
    }
    if (name == "ToggleLock") {
        priToggleLock();
        return true;
    }
    if (name == "ToggleWarning" || name == "ShowWarning" || name == "HideWarning") {
        m_bWarningOn = name == "ToggleWarning" ? !m_bWarningOn : name == "ShowWarning";
        priFire(m_bWarningOn ? "ON_SHOW_EXPOSURE_WARNING" : "ON_HIDE_EXPOSURE_WARNING");
        return true;
    }
    if (name == "DeletePressed") {
        priFire("ON_SET_REPLY", static_cast<FIUiRelay*>(this));
        int four = 4;
        priFire("ON_SET_DELETE_TEXT", &four);
        return true;
    }
    if (name == "OpenAnother") {
        if (m_pEntry) {
            priFire("ON_OPEN_ANOTHER");
            priFire("ON_REVIEW_IMAGE", m_pEntry.get());
        }
        return true;
    }
    if (name == "SelectLanguage") {
        priFire("ON_REV_LANG_DIALOG");
        return true;
    }
    if (name == "Save") {
        priSave();
        return true;
    }
    if (name == "SaveSettings") {
        priSaveSettings();
        return true;
    }
    if (name == "SaveQ7FSettings") {
        if (m_pEntry && m_pEntry->m_bRaw && m_bAutoReceived) {
            priStoreSettingsInFile();
            priEvaluatePermission();
        }
        return true;
    }

    // Messages that need data: a null pointer makes them unknown.
    static const char* const kWithData[] = {"Set Language",
                                            "ImageFileListEntry",
                                            "UpdateImageInfo",
                                            "IpReply",
                                            "ImageResize",
                                            "NeedLoupeImage",
                                            "SettingsMode",
                                            "SettingsModeText",
                                            "SelectedSetting",
                                            "CustomSetting",
                                            "ExposureChange",
                                            "ContrastChange",
                                            "BlacknessChange",
                                            "HighlightChange",
                                            "SaturationChange",
                                            "SharpnessChange",
                                            "RetinexChange",
                                            "ColorAdjustChange",
                                            "Reply2",
                                            "GrayBalanceXY",
                                            "EnableGrayBalance",
                                            "Rotate",
                                            "Reply",
                                            "DeletingImage",
                                            "UpdateImage"};
    bool known = false;
    for (const char* withData : kWithData)
        known = known || name == withData;
    if (!known)
        return FUiObject::UiRelayMessage(message, data);
    if (!data)
        return false;

    if (name == "Set Language") {
        if (m_pEntry) {
            FWideString line;
            priInfoLine(line);
            priFire("ON_NEW_IMAGE_INFO", &line);
        }
    } else if (name == "ImageFileListEntry") {
        priSwitchTo(*static_cast<FImageFileListEntry*>(data));
    } else if (name == "UpdateImageInfo") {
        auto* entry = static_cast<FImageFileListEntry*>(data);
        if (m_pEntry && entry->m_usURL == m_pEntry->m_usURL) {
            FWideString line;
            priInfoLine(line);
            priFire("ON_NEW_IMAGE_INFO", &line);
        }
    } else if (name == "IpReply") {
        auto* reply = static_cast<FUiIpObjectReply*>(data);
        FUiIpObjectRequest* request = reply->m_pRequest;
        if (!request || request->m_Async.GetState() != kCompleted)
            return true;
        switch (request->m_nUserData) {
        case kPreview:
            TakeImage(m_pPreviewImage, static_cast<FUiIpObjectImageReply*>(reply)->m_pImage);
            break;
        case kIlluminants: {
            auto list = std::make_unique<FPropList>(nullptr, "IlluminantsProps");
            if (const FPropList* from = static_cast<FUiIpObjectPropListReply*>(reply)->m_pProps)
                for (FPropPair* pair = from->GetFirstProp(); pair; pair = pair->GetNext())
                    list->AddProp(pair->GetName(), pair->GetValue());
            m_pIlluminants = std::move(list);
            break;
        }
        case kAutoSet:
            m_Auto = static_cast<FUiIpObjectAutoSetReply*>(reply)->m_Settings;
            break;
        case kProcessed:
            TakeImage(m_pProcessedImage, static_cast<FUiIpObjectImageReply*>(reply)->m_pImage);
            break;
        case kLoupe:
            TakeImage(m_pLoupeImage, static_cast<FUiIpObjectImageReply*>(reply)->m_pImage);
            break;
        case kGrayBalance:
            for (int i = 0; i < 3; ++i)
                m_adGrayGains[i] = static_cast<FUiIpObjectGetGrayBalanceReply*>(reply)->m_adGains[i];
            break;
        default:
            break;
        }
    } else if (name == "ImageResize") {
        const int* size = static_cast<const int*>(data);
        m_nViewW = std::max(0, size[0]);
        m_nViewH = std::max(0, size[1]);
        if (priHasSizedEntry()) {
            m_bNewWorkQueued = true;
            priRequeueAfterChange();
        }
    } else if (name == "NeedLoupeImage") {
        priNeedLoupe(static_cast<const double*>(data));
    } else if (name == "SettingsMode") {
        priSettingsMode(*static_cast<double*>(data));
    } else if (name == "SettingsModeText") {
        priSettingsModeText(*static_cast<FWideString*>(data));
    } else if (name == "SelectedSetting") {
        m_nSettingMode = CustomSettingMode;
        priFire("ON_GET_SAVED_SETTING", data);
        priFireDouble("ON_SELECT_CUSTOM", 1.0);
        m_bDefaultChecked = m_bAutoChecked = false;
        m_bCustomChecked = true;
        priSendCheckedMenus();
    } else if (name == "CustomSetting") {
        const auto& given = *static_cast<ProcessingSettings*>(data);
        m_Custom = given;
        m_nSettingMode = CustomSettingMode;
        priFireDouble("ON_SELECT_CUSTOM", 1.0);
        // The controls and the mode follow the setting the picture is now made with.
        priFire("ON_SEND_CUSTOM", &m_Custom);
        priFireDouble("ON_TELL_SLIDER", 1.0);
        m_bDefaultChecked = m_bAutoChecked = false;
        m_bCustomChecked = true;
        priSendCheckedMenus();
        priQueueProcessed();
        priEvaluatePermission();
    } else if (name == "ExposureChange") {
        priAdjust(&ProcessingSettings::Exposure, *static_cast<double*>(data));
    } else if (name == "ContrastChange") {
        priAdjust(&ProcessingSettings::Contrast, *static_cast<double*>(data));
    } else if (name == "BlacknessChange") {
        priAdjust(&ProcessingSettings::Blackness, *static_cast<double*>(data));
    } else if (name == "HighlightChange") {
        priAdjust(&ProcessingSettings::Highlight, *static_cast<double*>(data));
    } else if (name == "SaturationChange") {
        priAdjust(&ProcessingSettings::Saturation, *static_cast<double*>(data));
    } else if (name == "SharpnessChange") {
        priAdjust(&ProcessingSettings::Sharpness, *static_cast<double*>(data));
    } else if (name == "RetinexChange") {
        priAdjust(&ProcessingSettings::Retinex, *static_cast<double*>(data));
    } else if (name == "ColorAdjustChange") {
        const double* gains = static_cast<const double*>(data);
        if (m_nSettingMode == CustomSettingMode) {
            // Gains that are not finite and positive would reach the pipeline as NaN.
            for (int i = 0; i < 3; ++i)
                if (!Finite(gains[i]) || gains[i] <= 0.0) {
                    DebugTrace("FUiReviewWindow: ColorAdjustChange refused a gain that is not finite and "
                               "positive\n");
                    return true;
                }
            m_Custom.ColorAdjustR = gains[0];
            m_Custom.ColorAdjustG = gains[1];
            m_Custom.ColorAdjustB = gains[2];
            priQueueProcessed();
            priEvaluatePermission();
        }
    } else if (name == "Reply2") {
        priReply2(*static_cast<FWideString*>(data));
    } else if (name == "GrayBalanceXY") {
        const double* xy = static_cast<const double*>(data);
        if (Finite(xy[0]) && Finite(xy[1]) && priHasSizedEntry() && m_pEntry->m_bRaw && m_bProcessedShown) {
            const double fx = std::clamp(xy[0], 0.0, 1.0);
            const double fy = std::clamp(xy[1], 0.0, 1.0);
            auto& record = static_cast<FUiIpObjectGetGrayBalanceReq&>(*m_slots[kGrayBalance].next);
            record.m_usFileURL = m_pEntry->m_usURL;
            record.m_nX = std::min(m_nImageW - 1, static_cast<int>(m_nImageW * fx));
            record.m_nY = std::min(m_nImageH - 1, static_cast<int>(m_nImageH * fy));
            m_slots[kGrayBalance].pending = true;
        }
        priEvaluatePermission();
    } else if (name == "EnableGrayBalance") {
        priSetGrayBalance(*static_cast<bool*>(data));
    } else if (name == "Rotate") {
        priRotate(*static_cast<FWideString*>(data));
    } else if (name == "Reply") {
        const FWideString& text = *static_cast<FWideString*>(data);
        if (text == FWideString("Delete"))
            priDelete();
        else if (text == FWideString("ErrorAcknowleged"))
            priErrorAcknowledged();
    } else if (name == "DeletingImage") {
        priDeletingImage(*static_cast<FWideString*>(data));
    } else if (name == "UpdateImage") {
        priUpdateImage(*static_cast<FImageFileListEntry*>(data));
    }
    return true;
}

// ---------------------------------------------------------------- engine

void FUiReviewWindow::Tick(int elapsedMs)
{
    FUiObject::Tick(elapsedMs);
    priRunEngine();
    priRunPreview();
}

void FUiReviewWindow::priReset(FUiIpObjectRequest& request)
{
    request.m_Async.SetProgress(0.0);
    request.m_Async.m_iErrorCode.store(kErrNone);
    request.m_Async.m_usErrorText = FWideString();
    request.m_Async.m_bCancel.store(0);
    request.m_Async.SetState(kInitialized);
}

bool FUiReviewWindow::priAnyBusy() const
{
    for (int purpose = kIlluminants; purpose < kPurposeCount; ++purpose)
        if (m_slots[purpose].inFlight->m_Async.IsInProgress())
            return true;
    return false;
}

void FUiReviewWindow::priFireRecord(int purpose)
{
    Slot& slot = m_slots[purpose];
    FUiIpObjectFileReq& record = *slot.inFlight;
    priReset(record);
    CopyRecord(record, *slot.next);
    if (purpose == kProcessed || purpose == kLoupe)
        static_cast<FUiIpObjectProcessedReq&>(record).m_Settings = priCurrentSettings();
    if (purpose == kLoupe) {
        slot.flightX = slot.nextX;
        slot.flightY = slot.nextY;
    }
    slot.pending = false;
    priFire(purpose == kPreview ? "ON_GET_PREVIEW" : "ON_GET_IMAGE", &record);
    // No bridge answered: the record would wait for ever.
    if (record.m_Async.GetState() == kInitialized) {
        DebugTrace("FUiReviewWindow: request %d was not taken by a bridge\n", purpose);
        record.m_Async.Fail(kErrInvalid, "no bridge");
    }
}

void FUiReviewWindow::priRunEngine()
{
    for (int guard = 0; guard < 64; ++guard) {
        switch (m_nEngineState) {
        case kIdle:
            m_bNewWorkQueued = false;
            if (m_pEntry) {
                if (m_bWaitingForCancels) {
                    m_bWaitingForCancels = false;
                    m_nEngineState = kWaitCancels;
                } else if (m_slots[kIlluminants].pending) {
                    m_nEngineState = kRunIlluminants;
                } else if (m_slots[kWhiteBalance].pending) {
                    m_nEngineState = kRunWhiteBalance;
                } else if (m_slots[kAutoSet].pending) {
                    m_nEngineState = kRunAutoSet;
                } else if (m_slots[kProcessed].pending) {
                    m_nEngineState = kRunProcessed;
                } else if (m_slots[kLoupe].pending) {
                    m_nEngineState = kRunLoupe;
                } else if (m_slots[kGrayBalance].pending) {
                    m_nEngineState = kRunGrayBalance;
                } else {
                    priCameraCheck();
                    return;
                }
            } else if (m_bWaitingForCancels) {
                m_bWaitingForCancels = false;
                m_nEngineState = kWaitCancels;
            } else if (m_pNextEntry) {
                priOpenNext();
                if (m_nEngineState == kIdle && !priHasSizedEntry() && !m_bErrorPending)
                    return;
            } else {
                return;
            }
            break;
        case kClosing:
            priStartClosing();
            return;
        case kWaitCancels:
            if (priAnyBusy() || m_slots[kPreview].inFlight->m_Async.IsInProgress())
                return;
            // Whatever finished for the closed image is dropped, so that none of it is shown
            // for the next one and its records start idle.
            for (Slot& slot : m_slots)
                priReset(*slot.inFlight);
            ReleaseHeld(m_pPreviewImage);
            ReleaseHeld(m_pProcessedImage);
            ReleaseHeld(m_pLoupeImage);
            priFire("ON_END_PROCESSING");
            m_nEngineState = kIdle;
            break;
        default: {
            // States 2 to 7 each run one purpose; the first three show the busy marks.
            static const int kPurposeOfState[] = {kIlluminants, kAutoSet,     kProcessed,
                                                  kLoupe,       kGrayBalance, kWhiteBalance};
            if (m_nEngineState < kRunIlluminants || m_nEngineState > kRunWhiteBalance) {
                m_nEngineState = kIdle;
                break;
            }
            if (!priRunSlot(kPurposeOfState[m_nEngineState - kRunIlluminants],
                            m_nEngineState <= kRunProcessed))
                return;
            break;
        }
        }
    }
}

// One step of an engine purpose; false when the engine must wait for the next tick.
bool FUiReviewWindow::priRunSlot(int purpose, bool processing)
{
    Slot& slot = m_slots[purpose];
    FUiIpObjectFileReq& record = *slot.inFlight;
    switch (record.m_Async.GetState()) {
    case kInitialized:
        if (!slot.pending) {
            m_nEngineState = kIdle;
            return true;
        }
        if (processing)
            priFire("ON_BEGIN_PROCESSING");
        if (purpose == kWhiteBalance && m_pEntry && m_pEntry->m_bLocked) {
            m_pEntry->SetLock(false);
            m_pEntry->GetProps(m_pPool);
            m_bRelock = true;
        }
        priFireRecord(purpose);
        return true;
    case kInProgress:
        if (processing && m_bNewWorkQueued && !record.m_Async.IsCancelRequested()) {
            record.m_Async.RequestCancel();
            return true;
        }
        return false;
    default:
        break;
    }
    const int state = record.m_Async.GetState();
    const int code = record.m_Async.GetErrorCode();
    if (purpose == kWhiteBalance && m_bRelock) {
        m_bRelock = false;
        if (m_pEntry) {
            m_pEntry->SetLock(true);
            m_pEntry->GetProps(m_pPool);
        }
    }
    if (processing)
        priFire("ON_END_PROCESSING");
    m_nEngineState = kIdle;
    priReset(record);
    if (state == kCompleted) {
        if (!priComplete(purpose))
            priProcError(kErrMissingImage);
    } else if (state == kError) {
        priProcError(code);
    }
    return true;
}

bool FUiReviewWindow::priComplete(int purpose)
{
    switch (purpose) {
    case kIlluminants: {
        if (m_pEntry)
            m_usWhiteBalance = m_pEntry->m_usWhiteBalance;
        m_illuminantNames.clear();
        if (m_pIlluminants)
            for (FPropPair* pair = m_pIlluminants->GetFirstProp(); pair; pair = pair->GetNext())
                m_illuminantNames.push_back(pair->GetName());
        m_bIlluminantsReceived = !m_illuminantNames.empty();
        if (!m_bFolderReadOnly)
            priFireBool("ON_GOT_WHITE_BALS", m_bIlluminantsReceived);
        m_bIlluminantsReceived = true;
        return true;
    }
    case kAutoSet:
        m_bAutoReceived = true;
        priEvaluatePermission();
        if (m_nSettingMode == AutoSettingMode)
            priFire("ON_SEND_CUSTOM", &m_Auto);
        return true;
    case kProcessed: {
        if (!m_pProcessedImage)
            return false;
        m_bProcessedShown = true;
        FIPMImage* image = m_pProcessedImage;
        priFire("ON_DISPLAY_IMAGE", image);
        priFire("ON_DISPLAY_HISTOGRAM", image->GetHistogramPtr());
        ReleaseHeld(m_pProcessedImage);
        return true;
    }
    case kLoupe: {
        if (!m_pLoupeImage)
            return false;
        FLoupeImageMessage record{m_pLoupeImage, m_slots[kLoupe].flightX, m_slots[kLoupe].flightY};
        priFire("ON_DISPLAY_LOUPE_IMAGE", &record);
        ReleaseHeld(m_pLoupeImage);
        return true;
    }
    case kGrayBalance: {
        double gains[3] = {m_adGrayGains[0], m_adGrayGains[1], m_adGrayGains[2]};
        priFire("ON_GRAY_BAL", gains);
        return true;
    }
    case kWhiteBalance:
        if (m_pEntry) {
            FImageFileListEntry fresh;
            fresh.SetURL(m_pEntry->m_usURL);
            fresh.GetProps(m_pPool);
            priFireUpdateImage(&fresh);
        }
        return true;
    default:
        return true;
    }
}

void FUiReviewWindow::priRunPreview()
{
    Slot& slot = m_slots[kPreview];
    FUiIpObjectFileReq& record = *slot.inFlight;
    switch (record.m_Async.GetState()) {
    case kInitialized:
        if (slot.pending)
            priFireRecord(kPreview);
        break;
    case kInProgress:
        if (slot.pending)
            record.m_Async.RequestCancel();
        break;
    case kCompleted: {
        // A preview that finished while its image was being closed belongs to no image.
        const bool current = priIsCurrent(record);
        const bool shown = m_pPreviewImage != nullptr;
        if (m_pPreviewImage) {
            if (!m_bProcessedShown && current)
                priFire("ON_DISPLAY_IMAGE", m_pPreviewImage);
            ReleaseHeld(m_pPreviewImage);
        }
        const bool failed = current && !shown && !m_pEntry->m_bRaw;
        priReset(record);
        // Other files have no picture but their preview.
        if (failed)
            priProcError(kErrReaderFailed);
        break;
    }
    case kCancelled:
        priReset(record);
        break;
    default: {
        const int code = record.m_Async.GetErrorCode();
        if (!priIsCurrent(record)) {
            priReset(record);
            break;
        }
        // A raw file without a preview, or a preview the manager could not make: the
        // processed image follows anyway, so neither is worth a dialog. For any other file
        // the preview is the picture itself.
        if (code == kErrNoPreview || code == kErrMissingImage) {
            if (!m_pEntry->m_bRaw) {
                priReset(record);
                priProcError(kErrReaderFailed);
                break;
            }
            record.m_Async.m_iErrorCode.store(kErrNone);
            record.m_Async.SetState(kCompleted);
            break;
        }
        priReset(record);
        priProcError(code);
        break;
    }
    }
}

bool FUiReviewWindow::priIsCurrent(const FUiIpObjectFileReq& record) const
{
    return m_pEntry && !m_pNextEntry && record.m_usFileURL == m_pEntry->m_usURL;
}

void FUiReviewWindow::priStartClosing()
{
    for (int purpose : {kAutoSet, kProcessed, kLoupe, kGrayBalance, kWhiteBalance})
        m_slots[purpose].pending = false;
    m_slots[kPreview].pending = false;
    m_bAutoReceived = m_bIlluminantsReceived = m_bProcessedShown = false;
    for (int purpose = 0; purpose < kPurposeCount; ++purpose)
        if (m_slots[purpose].inFlight->m_Async.IsInProgress())
            m_slots[purpose].inFlight->m_Async.RequestCancel();
    if (!m_bErrorPending)
        m_pEntry.reset();
    if (!m_pNextEntry)
        priFire("ON_CLEAR_IMAGE");
    m_bWaitingForCancels = true;
    m_nEngineState = kIdle;
}

void FUiReviewWindow::priOpenNext()
{
    m_illuminantNames.clear();
    m_pEntry = std::move(m_pNextEntry);
    ReleaseHeld(m_pPreviewImage);
    ReleaseHeld(m_pProcessedImage);
    ReleaseHeld(m_pLoupeImage);
    priFire("ON_GET_IMAGE_LIST_POS", m_pEntry.get());
    priFire("ON_NEW_IMAGENAME", m_pEntry.get());
    priFireText("ON_NEW_WINDOW_TITLE_POSTFIX", TitlePostfix(*m_pEntry));
    priPositionEvents();
    priShowEntry();
    if (priHasSizedEntry())
        priQueueOpening();
    else if (!m_bErrorPending)
        m_nEngineState = kIdle;
}

void FUiReviewWindow::priCameraCheck()
{
    if (!m_pEntry || !m_pEntry->m_bCamera)
        return;
    bool reachable = true;
    priFire("ON_GET_CAMERA_STATUS", &reachable);
    if (!reachable) {
        priProcError(kErrMissingImage);
        m_bErrorPending = false;
    }
}

void FUiReviewWindow::priProcError(int code)
{
    DebugTrace("FUiReviewWindow::priProcError %d\n", code);
    m_bNoCameraError = false;
    if (m_pEntry && m_pEntry->m_bCamera) {
        bool reachable = true;
        priFire("ON_GET_CAMERA_STATUS", &reachable);
        m_bNoCameraError = !reachable;
    }
    if (m_bNoCameraError) {
        DebugTrace("FUiReviewWindow::priProcError says no-camera error\n");
        m_nEngineState = kClosing;
        priFire("ON_NO_CAMERA_ERROR");
    } else if (code == kErrNoPreview) {
        DebugTrace("FUiReviewWindow::priProcError ignoring Missing Preview\n");
        return;
    } else if (code == 5 || code == 6 || code == 7 || code == 8 || code == 10) {
        DebugTrace("FUiReviewWindow::priProcError says File Error\n");
        m_nEngineState = kClosing;
        priFire("ON_FILE_ERROR");
    } else {
        DebugTrace("FUiReviewWindow::priProcError says Processing Error\n");
        m_nEngineState = kClosing;
        priFire("ON_IMAGE_ERROR");
    }
    priFire("ON_SET_ERROR_REPLY", static_cast<FIUiRelay*>(this));
    m_bErrorPending = true;
}

// ---------------------------------------------------------------- queueing

bool FUiReviewWindow::priHasSizedEntry() const
{
    // No request before the view's size is known: a 0 x 0 image helps nobody.
    return m_pEntry && m_nImageW > 0 && m_nImageH > 0 && m_nViewW > 0 && m_nViewH > 0;
}

void FUiReviewWindow::priFit()
{
    const int64_t w = m_nImageW, h = m_nImageH, vw = m_nViewW, vh = m_nViewH;
    if (vw * h < w * vh) {
        m_nFitW = static_cast<int>(vw);
        m_nFitH = static_cast<int>(h * vw / w);
    } else {
        m_nFitH = static_cast<int>(vh);
        m_nFitW = static_cast<int>(w * vh / h);
    }
    m_nFitW = std::max(1, m_nFitW);
    m_nFitH = std::max(1, m_nFitH);
    if (m_nFitW != m_nShownFitW) {
        m_nShownFitW = m_nFitW;
        priLoupeText();
    }
}

void FUiReviewWindow::priQueuePreview()
{
    if (!priHasSizedEntry() || (m_pEntry->m_bRaw && m_bProcessedShown))
        return;
    priFit();
    auto& record = static_cast<FUiIpObjectPreviewReq&>(*m_slots[kPreview].next);
    record.m_usFileURL = m_pEntry->m_usURL;
    record.m_nOutCols = m_nFitW;
    record.m_nOutRows = m_nFitH;
    record.m_rCrop = FRect(0, 0, m_nFitW, m_nFitH);
    record.m_nColorSpace = kColorSpaceSRGB;
    m_slots[kPreview].pending = true;
}

void FUiReviewWindow::priQueueIlluminants()
{
    if (!priHasSizedEntry() || !m_pEntry->m_bRaw)
        return;
    m_slots[kIlluminants].next->m_usFileURL = m_pEntry->m_usURL;
    m_slots[kIlluminants].pending = true;
}

void FUiReviewWindow::priQueueAutoSet()
{
    if (!priHasSizedEntry() || !m_pEntry->m_bRaw)
        return;
    m_slots[kAutoSet].next->m_usFileURL = m_pEntry->m_usURL;
    m_slots[kAutoSet].pending = true;
}

void FUiReviewWindow::priQueueProcessed()
{
    if (!priHasSizedEntry() || !m_pEntry->m_bRaw)
        return;
    priFit();
    auto& record = static_cast<FUiIpObjectProcessedReq&>(*m_slots[kProcessed].next);
    record.m_usFileURL = m_pEntry->m_usURL;
    record.m_nOutCols = m_nFitW;
    record.m_nOutRows = m_nFitH;
    record.m_rCrop = FRect(0, 0, m_nFitW, m_nFitH);
    m_slots[kProcessed].pending = true;
}

void FUiReviewWindow::priQueueOpening()
{
    priQueuePreview();
    priQueueIlluminants();
    priQueueAutoSet();
    priQueueProcessed();
}

void FUiReviewWindow::priRequeueAfterChange()
{
    if (!m_bIlluminantsReceived)
        priQueueIlluminants();
    if (!m_bAutoReceived)
        priQueueAutoSet();
    if (!m_bProcessedShown)
        priQueuePreview();
    priQueueProcessed();
}

void FUiReviewWindow::priQueueWhiteBalance(const FWideString& name)
{
    if (!priHasSizedEntry() || !m_pEntry->m_bRaw)
        return;
    auto& record = static_cast<FUiIpObjectWhiteBalReq&>(*m_slots[kWhiteBalance].next);
    record.m_usFileURL = m_pEntry->m_usURL;
    record.m_usWhiteBal = name;
    m_slots[kWhiteBalance].pending = true;
    m_bNewWorkQueued = true;
    priRequeueAfterChange();
}

// ---------------------------------------------------------------- showing

void FUiReviewWindow::priShowEntry()
{
    FImageFileListEntry& entry = *m_pEntry;
    bool read = false;
    try {
        read = entry.GetProps(m_pPool);
    } catch (const FException& e) {
        DebugTrace("FUiReviewWindow: properties of '%s' not read: %s\n", entry.m_usURL.GetNarrow(),
                   e.GetMessage());
    }
    // The entry answers a file it could not read with blank properties; without a size
    // there is nothing to show, and the user must hear why.
    if (!read || entry.m_nCols <= 0 || entry.m_nRows <= 0) {
        m_nImageW = m_nImageH = 0;
        priProcError(kErrFileIO);
        return;
    }
    m_File = entry.m_bRaw ? entry.m_Settings : m_Defaults;
    priFire("ON_SET_DEFAULT_SETTINGS", &m_File);
    if (m_nSettingMode == AutoSettingMode || m_nSettingMode == Q7FSettingMode) {
        m_Auto = m_File;
        priFire("ON_SEND_CUSTOM", &m_Auto);
    }
    m_nImageW = entry.m_nCols;
    m_nImageH = entry.m_nRows;
    m_nEngineState = kIdle;
    priFireBool("ON_IMAGE_MARKED_STATE", entry.m_bMarked);
    priFireBool("ON_IMAGE_LOCKED_STATE", entry.m_bLocked);
    FWideString line;
    priInfoLine(line);
    priFire("ON_NEW_IMAGE_INFO", &line);
    priFire(entry.m_bRaw && m_bWarningOn ? "ON_SHOW_EXPOSURE_WARNING" : "ON_HIDE_EXPOSURE_WARNING");
    priFireBool("ON_BRISAL_IMAGE", entry.m_bRaw);
    if (entry.m_bRaw) {
        priFireBool("ON_LOUPE_ENABLED", m_bLoupeOn);
        priFire(m_bLoupeOn ? "ON_SHOW_LOUPE" : "ON_HIDE_LOUPE");
    }
    priFireBool("ON_LOCKED_IMAGE", !entry.m_bLocked);
    priFire(entry.m_bLocked ? "ON_SET_MENU_UNLOCK" : "ON_SET_MENU_LOCK");
    priFire(entry.m_bMarked ? "ON_SET_MENU_UNMARK" : "ON_SET_MENU_MARK");
    std::vector<FWideString> parts;
    SplitURL(entry.m_usURL, parts);
    if (parts.size() >= 2) {
        parts.pop_back();
        FWideString folderURL, fileName;
        JoinURL(parts, folderURL, true);
        try {
            if (FIFolder* folder = OpenFolderURL(folderURL, fileName, false)) {
                m_bFolderReadOnly = folder->IsReadOnly();
                folder->Release();
                priFireBool("ON_DIRECTORY_READ_ONLY", m_bFolderReadOnly);
                priFireBool("ON_DIRECTORY_NOT_READ_ONLY", !m_bFolderReadOnly);
                priEvaluatePermission();
            }
        } catch (const FException& e) {
            DebugTrace("FUiReviewWindow: folder of '%s' not opened: %s\n", entry.m_usURL.GetNarrow(),
                       e.GetMessage());
        }
    }
    const bool can = entry.m_bRaw && !m_bFolderReadOnly;
    // A picture's turn is not written into it: a read-only folder does not stop it.
    priFireBool("ON_CAN_ROTATE", can || !entry.m_bRaw);
    priFireBool("ON_CAN_MARK", can);
    // Again, for controls that took no state while they were off.
    priFireBool("ON_IMAGE_MARKED_STATE", entry.m_bMarked);
}

void FUiReviewWindow::priPositionEvents()
{
    if (m_pEntry) {
        const int index = m_pEntry->m_nVisibleIndex;
        const int count = m_pEntry->m_nVisibleCount;
        priFire(index > 0 ? "ON_NOT_AT_START_OF_IMAGE_LIST" : "ON_AT_START_OF_IMAGE_LIST");
        priFire(count == index + 1 ? "ON_AT_END_OF_IMAGE_LIST" : "ON_NOT_AT_END_OF_IMAGE_LIST");
        priFireText("ON_SET_FILE_X", FWideString(std::to_string(index + 1).c_str()));
        priFireText("ON_SET_FILE_Y", FWideString(std::to_string(count).c_str()));
    } else {
        priFire("ON_AT_START_OF_IMAGE_LIST");
        priFire("ON_AT_END_OF_IMAGE_LIST");
        priFireText("ON_SET_FILE_X", FWideString("0"));
        priFireText("ON_SET_FILE_Y", FWideString("0"));
    }
}

void FUiReviewWindow::priSwitchTo(const FImageFileListEntry& entry)
{
    if (m_pEntry && entry.m_usURL == m_pEntry->m_usURL)
        return;
    m_nEngineState = kClosing;
    m_pNextEntry = std::make_unique<FImageFileListEntry>(entry);
    priFire("ON_NEW_IMAGENAME", m_pNextEntry.get());
    priFireText("ON_NEW_WINDOW_TITLE_POSTFIX", TitlePostfix(*m_pNextEntry));
}

FImageFileListEntry* FUiReviewWindow::priProbe(bool next)
{
    // From the image last chosen, so that quick presses of an arrow each move one further.
    const FImageFileListEntry* from = m_pNextEntry ? m_pNextEntry.get() : m_pEntry.get();
    if (!from)
        return nullptr;
    const int index = from->m_nVisibleIndex;
    if (next ? index >= from->m_nVisibleCount - 1 : index <= 0)
        return nullptr;
    FImageFileListEntry temporary(*from);
    FImageNeighbourProbe probe{&temporary};
    priFire(next ? "ON_GET_NEXT_VISIBLE_IMAGE" : "ON_GET_PREV_VISIBLE_IMAGE", &probe);
    return probe.m_pEntry == &temporary ? nullptr : probe.m_pEntry;
}

void FUiReviewWindow::priGoNeighbour(bool next)
{
    FImageFileListEntry* neighbour = priProbe(next);
    if (!neighbour)
        return;
    if (m_nSettingMode == AutoSettingMode || m_nSettingMode == Q7FSettingMode) {
        m_Auto = m_File;
        priFire("ON_SEND_CUSTOM", &m_Auto);
        priEvaluatePermission();
    }
    priSwitchTo(*neighbour);
}

FWideString FUiReviewWindow::priTranslateWhiteBalance(const FWideString& name)
{
    for (int i = 0; i < 12; ++i) {
        if (name != FWideString(kWbNames[i]))
            continue;
        if (m_pApp && !m_aWbStringNames[i].IsEmpty())
            if (FIUiMultiLangString* text = m_pApp->GetDisplayString(m_aWbStringNames[i]))
                if (const FWideString* shown = text->GetText()) {
                    DebugTrace("RevWind translated to %s\n", shown->GetNarrow());
                    return *shown;
                }
        break;
    }
    return name;
}

void FUiReviewWindow::priInfoLine(FWideString& line)
{
    auto shown = [this](const FWideString& key, const char* fallback) {
        if (m_pApp && !key.IsEmpty())
            if (FIUiMultiLangString* text = m_pApp->GetDisplayString(key))
                if (const FWideString* value = text->GetText())
                    return *value;
        return FWideString(fallback);
    };
    const FWideString spacer = shown(m_usSpacer, "  ");
    m_pEntry->GetInfoLine(line, shown(m_usFStop, "f/"), shown(m_usSeconds, "s"), shown(m_usBulb, "BULB"),
                          spacer);
    if (m_pEntry->m_usWhiteBalance != FWideString(" ")) {
        line += spacer;
        line += priTranslateWhiteBalance(m_pEntry->m_usWhiteBalance);
    }
}

// ---------------------------------------------------------------- setting modes

const ProcessingSettings& FUiReviewWindow::priCurrentSettings() const
{
    if (m_nSettingMode == AutoSettingMode)
        return m_Auto;
    if (m_nSettingMode == CustomSettingMode)
        return m_Custom;
    return m_File;
}

bool FUiReviewWindow::CanStoreSettings() const
{
    if (m_bFolderReadOnly || !m_bAutoReceived)
        return false;
    if (m_nSettingMode == AutoSettingMode)
        return !m_Auto.AdjustmentsNearlyEqual(m_File);
    if (m_nSettingMode == CustomSettingMode)
        return !m_Custom.AdjustmentsNearlyEqual(m_File);
    return false;
}

bool FUiReviewWindow::priEvaluatePermission()
{
    const bool allowed = CanStoreSettings();
    priFireBool("ON_ALLOW_SAVE_Q7F_SETTINGS", allowed);
    return allowed;
}

void FUiReviewWindow::priSendCheckedMenus()
{
    priFireBool("ON_CHECK_MENU_DEFAULT", m_bDefaultChecked);
    priFireBool("ON_CHECK_MENU_AUTO", m_bAutoChecked);
    priFireBool("ON_CHECK_MENU_CUSTOM", m_bCustomChecked);
}

bool FUiReviewWindow::priSettingsMode(double position)
{
    if (!Finite(position)) {
        DebugTrace("FUiReviewWindow: SettingsMode ignored a position that is not a number\n");
        return true;
    }
    m_bDefaultChecked = m_bAutoChecked = m_bCustomChecked = false;
    priFireDouble("ON_TELL_SLIDER", position);
    const int32_t mode = SettingModeFromSliderPosition(position);
    m_bDefaultChecked = mode == Q7FSettingMode;
    m_bAutoChecked = mode == AutoSettingMode;
    m_bCustomChecked = mode == CustomSettingMode;
    if (mode != m_nSettingMode) {
        m_nSettingMode = mode;
        priQueueProcessed();
        if (mode == Q7FSettingMode) {
            priFire("ON_SELECT_DEFAULT");
            priFire("ON_CHECK_MENU_DEFAULT");
        } else if (mode == AutoSettingMode) {
            priFire("ON_SEND_CUSTOM", &m_Auto);
            priFire("ON_SELECT_AUTO");
            priFire("ON_CHECK_MENU_AUTO");
        } else {
            priFire("ON_SELECT_CUSTOM");
            priFire("ON_SEND_CUSTOM", &m_Custom);
            priFire("ON_CHECK_MENU_CUSTOM");
        }
    }
    priSendCheckedMenus();
    priEvaluatePermission();
    return true;
}

void FUiReviewWindow::priSettingsModeText(const FWideString& text)
{
    m_bDefaultChecked = m_bAutoChecked = m_bCustomChecked = false;
    int32_t mode = 0;
    if (text == FWideString("Default"))
        mode = Q7FSettingMode;
    else if (text == FWideString("Auto"))
        mode = AutoSettingMode;
    else if (text == FWideString("Custom"))
        mode = CustomSettingMode;
    if (mode == 0) {
        priSendCheckedMenus();
        return;
    }
    m_bDefaultChecked = mode == Q7FSettingMode;
    m_bAutoChecked = mode == AutoSettingMode;
    m_bCustomChecked = mode == CustomSettingMode;
    if (mode != m_nSettingMode) {
        m_nSettingMode = mode;
        priQueueProcessed();
        if (mode == Q7FSettingMode)
            priFire("ON_SELECT_DEFAULT");
        else
            priFire("ON_SEND_CUSTOM", mode == AutoSettingMode ? &m_Auto : &m_Custom);
        const double position = SliderPositionOfSettingMode(mode);
        priFireDouble("ON_SELECT_CUSTOM", position);
        priFireDouble("ON_TELL_SLIDER", position);
    }
    priSendCheckedMenus();
    priEvaluatePermission();
}

void FUiReviewWindow::priManualAdjust()
{
    m_Custom = priCurrentSettings();
    m_nSettingMode = CustomSettingMode;
    m_bDefaultChecked = m_bAutoChecked = false;
    m_bCustomChecked = true;
    priFireDouble("ON_TELL_SLIDER", 1.0);
    priFireDouble("ON_SELECT_CUSTOM", 1.0);
    priSendCheckedMenus();
    priFire("ON_SET_CURRENT_UNSAVED");
}

void FUiReviewWindow::priAdjust(double ProcessingSettings::*field, double value)
{
    if (m_nSettingMode != CustomSettingMode)
        return;
    // A NaN would reach the file when the settings are stored; infinities become the limits.
    if (std::isnan(value)) {
        DebugTrace("FUiReviewWindow: an adjustment that is not a number was ignored\n");
        return;
    }
    m_Custom.*field = std::clamp(value, -2.0, 2.0);
    priQueueProcessed();
    priEvaluatePermission();
}

// ---------------------------------------------------------------- balance

void FUiReviewWindow::priSetGrayBalance(bool on)
{
    m_bGrayBalanceOn = on;
    priFireBool("ON_GRAY_BALANCE_ENABLED", m_bGrayBalanceOn);
    if (FPropList* state = m_pApp ? m_pApp->GetPersistentData(m_usFullName) : nullptr)
        state->SetBool(FWideString("GrayBalanceState"), m_bGrayBalanceOn);
}

void FUiReviewWindow::priReply2(const FWideString& name)
{
    if (!m_pEntry)
        return;
    m_bAutoReceived = false;
    priQueueWhiteBalance(name);
    // A file without a recorded original shows "Auto", never a blank name.
    FWideString shown = name;
    if (name == FWideString("Original")) {
        shown = m_pEntry->m_usOrigWhiteBalance;
        if (shown.IsEmpty() || shown == FWideString(" "))
            shown = FWideString("Auto");
    }
    m_usWhiteBalance = shown;
    m_pEntry->m_usWhiteBalance = shown;
    priFire("ON_WHITE_BALANCE_CHANGED", m_pEntry.get());
}

// ---------------------------------------------------------------- file commands

bool FUiReviewWindow::priAskChangeAllowed()
{
    ImageChangeQuery query{m_pEntry->m_usURL, true};
    priFire("ON_IS_ROTATE_ALLOWED", &query);
    return query.m_bAllowed;
}

void FUiReviewWindow::priFireUpdateImage(FImageFileListEntry* entry)
{
    m_bUpdatingItself = true;
    priFire("ON_UPDATE_IMAGE", entry);
    m_bUpdatingItself = false;
}

void FUiReviewWindow::priRotate(const FWideString& direction)
{
    const bool clockwise = direction == FWideString("+90");
    if (!clockwise && direction != FWideString("-90"))
        return;
    if (!m_pEntry || !priAskChangeAllowed())
        return;
    // The entry refuses to rotate without a thumbnail size (it makes a new thumbnail);
    // an image opened without one from the browser gets the small one.
    if (m_pEntry->m_nThumbReqWidth < 1 || m_pEntry->m_nThumbReqHeight < 1) {
        m_pEntry->m_nThumbReqWidth = 160;
        m_pEntry->m_nThumbReqHeight = 120;
    }
    m_pEntry->RotateImage(m_pPool, clockwise);
    m_pEntry->GetProps(m_pPool);
    priFireUpdateImage(m_pEntry.get());
    m_nImageW = m_pEntry->m_nCols;
    m_nImageH = m_pEntry->m_nRows;
    m_bNewWorkQueued = true;
    priRequeueAfterChange();
}

void FUiReviewWindow::priToggleMark()
{
    if (!m_pEntry || !m_pEntry->m_bRaw)
        return;
    m_pEntry->MarkImage(m_pPool, !m_pEntry->m_bMarked);
    priFireBool("ON_IMAGE_MARKED_STATE", m_pEntry->m_bMarked);
    priFireUpdateImage(m_pEntry.get());
    priFire(m_pEntry->m_bMarked ? "ON_SET_MENU_UNMARK" : "ON_SET_MENU_MARK");
}

void FUiReviewWindow::priToggleLock()
{
    if (!m_pEntry)
        return;
    m_pEntry->SetLock(!m_pEntry->m_bLocked);
    priFireBool("ON_IMAGE_LOCKED_STATE", m_pEntry->m_bLocked);
    priFireBool("ON_LOCKED_IMAGE", !m_pEntry->m_bLocked);
    priFireUpdateImage(m_pEntry.get());
    priFire(m_pEntry->m_bLocked ? "ON_SET_MENU_UNLOCK" : "ON_SET_MENU_LOCK");
}

void FUiReviewWindow::priDelete()
{
    if (!m_pEntry || m_pEntry->m_bLocked || !priAskChangeAllowed())
        return;
    FImageFileListEntry* neighbour = priProbe(true);
    if (!neighbour)
        neighbour = priProbe(false);
    const FWideString url = m_pEntry->m_usURL;
    m_bDeleting = true;
    const bool deleted = m_pEntry->DeleteImage();
    m_bDeleting = false;
    // The browser drops its entry on this event, so it comes only for a file that is gone.
    if (!deleted) {
        DebugTrace("FUiReviewWindow: '%s' was not deleted\n", url.GetNarrow());
        return;
    }
    FWideString copy = url;
    m_bDeleting = true;
    priFire("ON_DELETING_IMAGE", &copy);
    m_bDeleting = false;
    if (neighbour)
        priSwitchTo(*neighbour);
    else
        m_nEngineState = kClosing;
}

void FUiReviewWindow::priErrorAcknowledged()
{
    // The notice acknowledges whenever it goes away; without an error there is nothing to
    // answer, and moving on would skip an image the user is looking at.
    if (!m_bErrorPending && !m_bNoCameraError)
        return;
    bool nothingLeft = true;
    if (m_pEntry) {
        FImageFileListEntry* neighbour = priProbe(true);
        if (!neighbour)
            neighbour = priProbe(false);
        FWideString url = m_pEntry->m_usURL;
        priFire("ON_DELETING_IMAGE", &url);
        m_bErrorPending = false;
        nothingLeft = !neighbour;
        if (neighbour)
            priSwitchTo(*neighbour);
        else
            m_nEngineState = kClosing;
    }
    // A window left without an image to show closes rather than stay empty.
    if (m_bNoCameraError || nothingLeft)
        priFire("ON_CLOSE_WINDOW");
    m_bNoCameraError = false;
    m_bErrorPending = false;
}

void FUiReviewWindow::priDeletingImage(const FWideString& url)
{
    if (!m_pEntry || url != m_pEntry->m_usURL)
        return;
    FImageFileListEntry* neighbour = priProbe(true);
    if (!neighbour)
        neighbour = priProbe(false);
    if (neighbour)
        priSwitchTo(*neighbour);
    else
        m_nEngineState = kClosing;
}

void FUiReviewWindow::priUpdateImage(const FImageFileListEntry& other)
{
    if (m_bUpdatingItself || !m_pEntry || other.m_usURL != m_pEntry->m_usURL)
        return;
    FImageFileListEntry& entry = *m_pEntry;
    if (other.m_bMarked != entry.m_bMarked) {
        entry.m_bMarked = other.m_bMarked;
        priFireBool("ON_IMAGE_MARKED_STATE", entry.m_bMarked);
    }
    if (other.m_bLocked != entry.m_bLocked) {
        entry.m_bLocked = other.m_bLocked;
        priFireBool("ON_IMAGE_LOCKED_STATE", entry.m_bLocked);
    }
    const ProcessingSettings settings = other.m_bRaw ? other.m_Settings : m_File;
    bool changed = false;
    if (!settings.AdjustmentsEqual(m_File)) {
        changed = true;
        m_File = settings;
        priFire("ON_SET_DEFAULT_SETTINGS", &m_File);
        if (m_nSettingMode == Q7FSettingMode) {
            priFire("ON_SEND_CUSTOM", &m_File);
            priEvaluatePermission();
        }
    }
    if (!changed && other.m_nRotation == entry.m_nRotation && other.m_nFileSize == entry.m_nFileSize &&
        other.m_usWhiteBalance == entry.m_usWhiteBalance &&
        other.m_usDigitizedTime == entry.m_usDigitizedTime &&
        other.m_usDigitizedDate == entry.m_usDigitizedDate)
        return;
    entry.GetProps(m_pPool);
    m_nImageW = entry.m_nCols;
    m_nImageH = entry.m_nRows;
    m_bNewWorkQueued = true;
    if (entry.m_bRaw) {
        m_bIlluminantsReceived = false;
        if (!m_bFolderReadOnly)
            priFireBool("ON_GOT_WHITE_BALS", false);
        m_bAutoReceived = false;
        m_bProcessedShown = false;
        priEvaluatePermission();
        priQueueOpening();
    } else {
        priQueuePreview();
    }
}

// ---------------------------------------------------------------- saving

void FUiReviewWindow::priSave()
{
    if (!m_pEntry)
        return;
    FUiSaveImageCmd command;
    command.m_usSrcURL = m_pEntry->m_usURL;
    command.m_nSettingMode = m_nSettingMode;
    command.m_Settings = priCurrentSettings();
    command.m_nWidth = m_nImageW;
    command.m_nHeight = m_nImageH;
    priFire("ON_SHOW_SAVE_IMAGE_DLG");
    priFireBool("ON_CAN_SAVE_Q7F_SETINGS", CanStoreSettings());
    priFire("ON_SAVE_IMAGE", &command);
    FWideString customName;
    priFire("ON_GET_CUSTOM_SETTING", &customName);
    priFire("ON_SEND_CUSTOM_NAME", &customName);
}

void FUiReviewWindow::priSaveSettings()
{
    if (m_nSettingMode != AutoSettingMode && m_nSettingMode != CustomSettingMode &&
        m_nSettingMode != Q7FSettingMode)
        return;
    ProcessingSettings settings = priCurrentSettings();
    priFire("ON_SAVE_SETTINGS", &settings);
}

void FUiReviewWindow::priStoreSettingsInFile()
{
    const ProcessingSettings settings = priCurrentSettings();
    FImageFileListEntry& entry = *m_pEntry;
    const bool locked = entry.m_bLocked;
    if (locked)
        entry.SetLock(false);
    try {
        FIPManagerRequest modify;
        modify.m_eKind = kReqModify;
        modify.m_usFileName = entry.m_usURL;
        FPropList& props = *modify.m_pImageProps;
        SetStoredSettingProps(props, settings);
        RunEngineRequest(m_pPool, modify);
        if (modify.m_Async.GetState() == kError)
            DebugTrace("FUiReviewWindow: settings not stored in '%s': error %d\n", entry.m_usURL.GetNarrow(),
                       modify.m_Async.GetErrorCode());
    } catch (const FException& e) {
        DebugTrace("FUiReviewWindow: settings not stored in '%s': %s\n", entry.m_usURL.GetNarrow(),
                   e.GetMessage());
    }
    if (locked)
        entry.SetLock(true);
    entry.GetProps(m_pPool);
    priFireUpdateImage(&entry);
    m_File = entry.m_bRaw ? entry.m_Settings : m_Defaults;
    priFire("ON_SET_DEFAULT_SETTINGS", &m_File);
}

// ---------------------------------------------------------------- loupe and state

void FUiReviewWindow::priNormaliseLoupe()
{
    if (m_nLoupeType == 2) {
        if (m_dLoupeMag < 1.0)
            m_dLoupeMag = kLoupeSmall;
        else if (m_dLoupeMag > 1.0)
            m_dLoupeMag = kLoupeLarge;
    } else {
        m_dLoupeMag = std::floor(m_dLoupeMag + 0.5);
    }
}

double FUiReviewWindow::GetLoupeScale() const
{
    if (m_nImageW <= 0 || m_nFitW <= 0)
        return m_dLoupeMag;
    // On an image the view enlarges, the steps scale up with it: the smallest still shows
    // the photograph larger than the view does.
    const double view = static_cast<double>(m_nFitW) / m_nImageW;
    const double first = m_nLoupeType == 2 ? kLoupeSmall : std::max(m_dLoupeMin, kLoupeSmall);
    return m_dLoupeMag * std::max(1.0, kLoupeFirstOverView * view / first);
}

void FUiReviewWindow::priLoupeText()
{
    // The magnification the loupe shows, in per cent of the photograph's own pixels.
    FWideString text((std::to_string(static_cast<int>(std::lround(GetLoupeScale() * 100.0))) + "%").c_str());
    priFire("ON_LOUPE_MAG_CHANGE", &text);
}

void FUiReviewWindow::priNeedLoupe(const double* v)
{
    if (!m_pEntry || !m_pEntry->m_bRaw || m_nImageW <= 0 || m_nImageH <= 0 || !m_bProcessedShown)
        return;
    for (int i = 0; i < 6; ++i)
        if (!Finite(v[i]))
            return;
    const double m = GetLoupeScale();
    const double W = m_nImageW, H = m_nImageH;
    const int left = static_cast<int>(W * v[0] * m - v[2] * 0.5);
    const int top = static_cast<int>(m * (H * v[1]) - v[3] * 0.5);
    const int lw = static_cast<int>(v[2]), lh = static_cast<int>(v[3]);
    if (lw <= 0 || lh <= 0 || left + lw <= 0 || top + lh <= 0 || left >= W * m || top >= H * m) {
        priFire("ON_LOUPE_OFF_IMAGE");
        return;
    }
    Slot& slot = m_slots[kLoupe];
    auto& record = static_cast<FUiIpObjectProcessedReq&>(*slot.next);
    record.m_usFileURL = m_pEntry->m_usURL;
    record.m_nOutCols = static_cast<int>(W * m);
    record.m_nOutRows = static_cast<int>(m * H);
    record.m_rCrop = FRect(left, top, left + lw, top + lh);
    slot.nextX = static_cast<int>(v[4]);
    slot.nextY = static_cast<int>(v[5]);
    slot.pending = true;
}

void FUiReviewWindow::priRestoreState()
{
    priFire("ON_INIT");
    FPropList* state = m_pApp ? m_pApp->GetPersistentData(m_usFullName) : nullptr;
    if (state) {
        auto read = [state](const char* key, double& value) {
            const double stored = state->GetFloat(FWideString(key), value);
            if (Finite(stored))
                value = stored;
        };
        read("LoupeMag", m_dLoupeMag);
        read("Exposure", m_Custom.Exposure);
        read("Shadow", m_Custom.Blackness);
        read("Contrast", m_Custom.Contrast);
        read("Highlight", m_Custom.Highlight);
        read("Saturation", m_Custom.Saturation);
        read("Sharpness", m_Custom.Sharpness);
        read("Retinex", m_Custom.Retinex);
        read("RedAdjust", m_Custom.ColorAdjustR);
        read("GreenAdjust", m_Custom.ColorAdjustG);
        read("BlueAdjust", m_Custom.ColorAdjustB);
        const int mode = state->GetInt(FWideString("Mode"), Q7FSettingMode);
        if (mode == AutoSettingMode) {
            m_nSettingMode = mode;
            m_bAutoChecked = true;
            m_Auto = m_Defaults;
            priFireDouble("ON_TELL_SLIDER", 0.5);
            priFireDouble("ON_SELECT_CUSTOM", 0.5);
            priFire("ON_SELECT_AUTO");
            priFire("ON_SEND_CUSTOM", &m_Auto);
        } else if (mode == CustomSettingMode) {
            m_nSettingMode = mode;
            m_bCustomChecked = true;
            priFireDouble("ON_TELL_SLIDER", 1.0);
            priFireDouble("ON_SELECT_CUSTOM", 1.0);
            priFire("ON_SEND_CUSTOM", &m_Custom);
            priFire("ON_CHECK_MENU_CUSTOM");
        } else if (mode == Q7FSettingMode) {
            m_nSettingMode = mode;
            m_bDefaultChecked = true;
            priFireDouble("ON_TELL_SLIDER", 0.0);
            priFire("ON_SELECT_DEFAULT");
            priFire("ON_CHECK_MENU_DEFAULT");
            priFire("ON_SET_CURRENT_UNSAVED");
        }
        priSendCheckedMenus();
        m_bWarningOn = state->GetBool(FWideString("WarningState"), false);
        m_bLoupeOn = state->GetBool(FWideString("LoupeState"), false);
        m_bGrayBalanceOn = state->GetBool(FWideString("GrayBalanceState"), false);
    }
    priFire(m_bWarningOn ? "ON_SHOW_EXPOSURE_WARNING" : "ON_HIDE_EXPOSURE_WARNING");
    priFireBool("ON_LOUPE_ENABLED", m_bLoupeOn);
    priFire(m_bLoupeOn ? "ON_SHOW_LOUPE" : "ON_HIDE_LOUPE");
    priFireBool("ON_GRAY_BALANCE_ENABLED", m_bGrayBalanceOn);
    priNormaliseLoupe();
    priLoupeText();
    priEvaluatePermission();
}

void FUiReviewWindow::priStoreState()
{
    if (m_pApp)
        m_pApp->RemoveLanguageListener(this);
    FPropList* state = m_pApp ? m_pApp->GetPersistentData(m_usFullName) : nullptr;
    if (!state)
        return;
    state->SetFloat(FWideString("LoupeMag"), m_dLoupeMag);
    state->SetBool(FWideString("LoupeState"), m_bLoupeOn);
    state->SetBool(FWideString("GrayBalanceState"), m_bGrayBalanceOn);
    state->SetBool(FWideString("WarningState"), m_bWarningOn);
    state->SetInt(FWideString("Mode"), m_nSettingMode);
    state->SetFloat(FWideString("Exposure"), m_Custom.Exposure);
    state->SetFloat(FWideString("Shadow"), m_Custom.Blackness);
    state->SetFloat(FWideString("Contrast"), m_Custom.Contrast);
    state->SetFloat(FWideString("Highlight"), m_Custom.Highlight);
    state->SetFloat(FWideString("Saturation"), m_Custom.Saturation);
    state->SetFloat(FWideString("Sharpness"), m_Custom.Sharpness);
    state->SetFloat(FWideString("Retinex"), m_Custom.Retinex);
    state->SetFloat(FWideString("RedAdjust"), m_Custom.ColorAdjustR);
    state->SetFloat(FWideString("GreenAdjust"), m_Custom.ColorAdjustG);
    state->SetFloat(FWideString("BlueAdjust"), m_Custom.ColorAdjustB);
}

bool RegisterReviewWindowCreator(FIUiObjectFactory* factory, FIPManager* pool)
{
    if (!factory)
        return false;
    auto* creator = new FUiReviewWindowCreator(pool);
    if (factory->Register("REVIEW_WIN_MGR", creator))
        return true;
    delete creator;
    return false;
}
