#include "FUiSaveImagesAsWindow.h"

#include <cmath>
#include <string>

#include "FDebugTrace.h"
#include "FException.h"
#include "FIPManager.h"
#include "FIStorageClass.h"
#include "FIUiApp.h"
#include "FImageFileListEntry.h"
#include "FPropList.h"
#include "FUiMultiLangString.h"
#include "FUiObjectFactory.h"
#include "FUiSettings.h"
#include "StorageClassRegistry.h"

namespace
{

class FUiSaveImagesAsWindowCreator final : public FIUiObjectCreator
{
public:
    FIUiObject* CreateUiObject(const char* typeName) override { return new FUiSaveImagesAsWindow(typeName); }
};

const char* const kEvents[] = {
    "ON_ALL_IMAGES",
    "ON_MARKED_IMAGES",
    "ON_SELECTED_IMAGES",
    "ON_CHECK_ALL",
    "ON_CHECK_MARKED",
    "ON_CHECK_SELECTED",
    "ON_SELECT_ALL",
    "ON_SELECT_MARKED",
    "ON_SELECT_SELECTED",
    "ON_SELECT_DEFAULT",
    "ON_SELECT_AUTO",
    "ON_SELECT_CUSTOM",
    "ON_GET_CUSTOM_SETTING",
    "ON_FETCH_SETTING",
    "ON_REQUEST_SETTING",
    "ON_REQUESTED_SETTING_RELAY",
    "ON_GET_JPEG_VALUE",
    "ON_GET_OUTPUTSIZE",
    "ON_GET_FILETYPE",
    "ON_GET_COLORSPACE",
    "ON_SEND_SAVED_LIST",
    "ON_GET_SAVED_LIST",
    "ON_CHECK_SETTINGS",
    "ON_ENABLE_CUSTOM",
    "ON_EMPTY_LIST",
    "ON_START_SAVE_BATCH",
    "ON_PERFORM_SAVE",
    "ON_SHOW_INVALID",
    "ON_SHOW_INSUFFICIENT",
    "ON_MARKED_IMAGES_ARE_PRESENT",
    "ON_SELECTED_IMAGES_ARE_PRESENT",
    "ON_SAME_RESOLUTIONS",
    "ON_MULTIPLE_RESOLUTIONS",
    "ON_GET_NATIVE_DST_DIR",
    "ON_SET_NATIVE_DST_DIR",
    "ON_ENABLE_JPEG_QUALITY",
    "ON_SHOW_INVALID_READ_ONLY",
    "ON_ENABLE_OK_BUTTON",
    "ON_CLEAR_ADJ_MODE",
    "ON_SAVE_PROC_MODE",
    "ON_CAN_SAVE_Q7F_SETTINGS",
    "ON_SAVING_SINGLE_IMAGE",
    "ON_SAVING_MULTIPLE_IMAGE",
    "ON_SET_IMAGESIZE_MENU",
    "ON_SET_IMAGESIZE_MENU_DEFAULT_ITEM",
    "ON_SET_IMAGESIZE_MENU_ITEM",
    "ON_IMAGESIZE_GET_MENU_ID",
    "ON_IMAGESIZE_MENU_SET_TEXT",
};

void ReleaseFolder(FIFolder* folder)
{
    if (folder)
        folder->Release();
}

} // namespace

bool ApplySaveFileType(const FWideString& name, FUiIpObjectProcAndSaveReq& request, double& bytesPerPixel)
{
    if (name == "JPEG_EXIF" || name == "JPEG_JFIF") {
        request.m_bJpeg = 1;
        request.m_bExif = name == "JPEG_EXIF";
        bytesPerPixel = 0.33;
    } else if (name == "TIFF8" || name == "TIFF16") {
        request.m_bJpeg = 0;
        request.m_nTiffBits = name == "TIFF8" ? 8 : 16;
        bytesPerPixel = name == "TIFF8" ? 3.0 : 6.0;
    } else {
        return false;
    }
    return true;
}

double OutputScaleOf(const FWideString& name)
{
    if (name == "Half")
        return 0.5;
    if (name == "Double")
        return 2.0;
    if (name == "Full")
        return std::sqrt(3.0);
    if (name == "Email")
        return std::sqrt(1.0 / 3.0);
    return 1.0;
}

int RoundHalfUp(double value)
{
    return static_cast<int>(value + 0.5);
}

// The extension goes whatever its length; a name without one keeps all of its text.
FWideString SavedFileName(const FWideString& sourceURL, bool jpeg)
{
    std::vector<FWideString> parts;
    FWideString name;
    if (SplitURL(sourceURL, parts) && !parts.empty())
        UnescapeURLChars(parts.back(), name);
    RemoveFileExtension(name);
    name += jpeg ? ".jpg" : ".tif";
    return name;
}

void StampSaveRequest(FIUiApp* app, FUiIpObjectProcAndSaveReq& request)
{
    if (!app)
        return;
    const FUiVersion version = app->GetVersion();
    request.m_anParams[0] = version.major;
    request.m_anParams[1] = version.minor;
    request.m_anParams[2] = version.revision;
    request.m_anParams[3] = version.build;
    request.m_usSoftware = app->GetAppName();
}

namespace
{

const char kSaveFolderEntry[] = "SaveDestination";
const char kSaveFolderKey[] = "Folder";

FWideString PicturesFolder()
{
    FWideString native;
    const FWideString url = GetSpecialPathURL(kSpecialPathPictures);
    return !url.IsEmpty() && URLToNativePath(url, native) ? native : FWideString();
}

} // namespace

FWideString ProposedSaveFolder(FIUiApp* app)
{
    if (FPropList* entry = app ? app->GetPersistentData(FWideString(kSaveFolderEntry)) : nullptr) {
        const FWideString last = entry->GetString(FWideString(kSaveFolderKey), FWideString());
        if (!last.IsEmpty())
            return last;
    }
    return PicturesFolder();
}

void RememberSaveFolder(FIUiApp* app, const FWideString& nativeFolder)
{
    if (FPropList* entry = app ? app->GetPersistentData(FWideString(kSaveFolderEntry)) : nullptr)
        entry->SetString(FWideString(kSaveFolderKey), nativeFolder);
}

void MakePicturesFolderFor(const FWideString& folderURL)
{
    auto withoutSlash = [](const FWideString& url) {
        std::u16string text(url.GetBuffer(), static_cast<size_t>(url.GetLength()));
        while (!text.empty() && text.back() == u'/')
            text.pop_back();
        return text;
    };
    const std::u16string pictures = withoutSlash(GetSpecialPathURL(kSpecialPathPictures));
    if (pictures.empty() || pictures != withoutSlash(folderURL))
        return;
    try {
        FWideString fileName;
        if (FIFolder* folder = OpenFolderURL(folderURL, fileName, true))
            folder->Release();
    } catch (const FException& e) {
        DebugTrace("The pictures folder was not made: %s\n", e.GetMessage());
    }
}

bool OnRemovableVolume(
    const FWideString& folderURL,
    const std::function<FIFolder*(const FWideString& url, FWideString& fileName)>& openFolder)
{
    std::vector<FWideString> parts;
    FIFolder* root = nullptr;
    int drive = kDriveUnknown;
    try {
        FWideString rootURL, fileName;
        if (SplitURL(folderURL, parts) && parts.size() >= 2) {
            parts.resize(2);
            if (JoinURL(parts, rootURL, true))
                root = openFolder(rootURL, fileName);
        }
        drive = root ? root->GetDriveType() : kDriveUnknown;
    } catch (const FException&) {
    }
    ReleaseFolder(root);
    return drive == kDriveRemovable || drive == kDriveCdRom;
}

bool RegisterSaveImagesAsWindowCreator(FIUiObjectFactory* factory)
{
    if (!factory)
        return false;
    auto* creator = new FUiSaveImagesAsWindowCreator;
    if (factory->Register("SAVE_IMAGES_AS_WIN_MGR", creator))
        return true;
    delete creator;
    return false;
}

FUiSaveImagesAsWindow::FUiSaveImagesAsWindow(const char* typeName, FIPManager* pool) : FUiObject(typeName)
{
    if (pool) {
        m_pPool = pool;
    } else {
        m_pPool = GetIPManagerPool();
        m_bHoldsPool = m_pPool != nullptr;
    }
    for (const char* name : kEvents)
        AddEvent(FWideString(name));
    m_openFolder = [](const FWideString& url, FWideString& fileName) {
        return OpenFolderURL(url, fileName, false);
    };
    m_Request.m_bJpeg = 1;
    m_Request.m_bExif = true;
}

FUiSaveImagesAsWindow::~FUiSaveImagesAsWindow()
{
    m_Entries.clear();
    if (m_bHoldsPool)
        ReleaseIPManager(&m_pPool);
}

bool FUiSaveImagesAsWindow::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    InitNonVisualUiObject(this, app, window, parent, tag);
    if (!tag)
        return false;
    bool singular = false, plural = false;
    const FWideString singularName =
        tag->GetString(FWideString("ImageSingularString"), FWideString(), &singular);
    const FWideString pluralName = tag->GetString(FWideString("ImagePluralString"), FWideString(), &plural);
    if (app) {
        m_pSingular = app->GetDisplayString(singularName);
        m_pPlural = app->GetDisplayString(pluralName);
    }
    return singular && plural;
}

void FUiSaveImagesAsWindow::priFire(const char* eventName, void* data)
{
    if (RelayEvent* event = FindEvent(FWideString(eventName)))
        event->Fire(data);
}

void FUiSaveImagesAsWindow::priFireText(const char* eventName, const FWideString& text)
{
    FWideString copy(text);
    priFire(eventName, &copy);
}

void FUiSaveImagesAsWindow::priFireBool(const char* eventName, bool value)
{
    priFire(eventName, &value);
}

bool FUiSaveImagesAsWindow::priInScope(const FImageFileListEntry& entry) const
{
    if (!entry.m_bRaw)
        return false;
    switch (m_eScope) {
    case EScope::kMarked:
        return entry.m_bMarked;
    case EScope::kSelected:
        return entry.m_bSelected;
    default:
        return true;
    }
}

// Without the script's words the labels use the English ones.
FWideString FUiSaveImagesAsWindow::priLabel(int count, int64_t bytes) const
{
    FIUiMultiLangString* word = count == 1 ? m_pSingular : m_pPlural;
    const FWideString* text = word ? word->GetText() : nullptr;
    FWideString label;
    label.Format("(%i ", count);
    if (text)
        label += *text;
    else
        label += count == 1 ? "image" : "images";
    if (count != 0) {
        FWideString size;
        size.SetByteSize(bytes);
        label += ", ";
        label += size;
    }
    label += ")";
    return label;
}

void FUiSaveImagesAsWindow::priCountImages()
{
    m_nRawCount = m_nMarkedCount = m_nSelectedCount = 0;
    int64_t all = 0, marked = 0, selected = 0;
    for (const auto& entry : m_Entries) {
        if (!entry->m_bRaw)
            continue;
        ++m_nRawCount;
        all += entry->m_nFileSize;
        if (entry->m_bMarked) {
            ++m_nMarkedCount;
            marked += entry->m_nFileSize;
        }
        if (entry->m_bSelected) {
            ++m_nSelectedCount;
            selected += entry->m_nFileSize;
        }
    }
    priFireText("ON_ALL_IMAGES", priLabel(m_nRawCount, all));
    priFireText("ON_MARKED_IMAGES", priLabel(m_nMarkedCount, marked));
    priFireText("ON_SELECTED_IMAGES", priLabel(m_nSelectedCount, selected));
    priFireBool("ON_MARKED_IMAGES_ARE_PRESENT", m_nMarkedCount != 0);
    priFireBool("ON_SELECTED_IMAGES_ARE_PRESENT", m_nSelectedCount != 0);
    int count = 0;
    if (m_nSelectedCount >= 1) {
        m_eScope = EScope::kSelected;
        count = m_nSelectedCount;
        priFire("ON_SELECT_SELECTED", nullptr);
    } else if (m_nMarkedCount < 1) {
        m_eScope = EScope::kAll;
        count = m_nRawCount;
        priFire("ON_SELECT_ALL", nullptr);
    } else {
        m_eScope = EScope::kMarked;
        count = m_nMarkedCount;
        priFire("ON_SELECT_MARKED", nullptr);
    }
    priFire(count > 1 ? "ON_SAVING_MULTIPLE_IMAGE" : "ON_SAVING_SINGLE_IMAGE", nullptr);
}

void FUiSaveImagesAsWindow::priCheckResolutions()
{
    m_nInScope = 0;
    int width = 0, height = 0;
    bool resolutionsDiffer = false, countsDiffer = false;
    for (const auto& entry : m_Entries) {
        if (!priInScope(*entry))
            continue;
        if (m_nInScope++ == 0) {
            width = entry->m_nCols;
            height = entry->m_nRows;
            continue;
        }
        if (entry->m_nCols != width || entry->m_nRows != height)
            resolutionsDiffer = true;
        if (int64_t(entry->m_nCols) * entry->m_nRows != int64_t(width) * height)
            countsDiffer = true;
    }
    if (resolutionsDiffer) {
        priFire("ON_MULTIPLE_RESOLUTIONS", nullptr);
    } else {
        FWideString text;
        text.Format("%03.1f MP (%i%s%i%s3)", double(width) * height * 3 * 1e-6, width, " x ", height, " x ");
        priFireText("ON_SAME_RESOLUTIONS", text);
    }
    m_nCommonPixels = countsDiffer ? 0 : int64_t(width) * height;
    priFire("ON_SET_IMAGESIZE_MENU", nullptr);
}

void FUiSaveImagesAsWindow::priCanSaveUpdate()
{
    priFireBool("ON_CAN_SAVE_Q7F_SETTINGS", m_nMode != Q7FSettingMode);
}

void FUiSaveImagesAsWindow::priOkUpdate()
{
    priFireBool("ON_ENABLE_OK_BUTTON", !(m_nMode == CustomSettingMode && m_usCustomName.IsEmpty()));
}

void FUiSaveImagesAsWindow::priTwoUpdates()
{
    priCanSaveUpdate();
    priOkUpdate();
}

void FUiSaveImagesAsWindow::priScopeMessage(EScope scope)
{
    int count = m_nRawCount;
    if (scope != EScope::kAll) {
        const bool marked = scope == EScope::kMarked;
        bool any = false;
        for (const auto& entry : m_Entries)
            any = any || (entry->m_bRaw && (marked ? entry->m_bMarked : entry->m_bSelected));
        if (!any) {
            if (m_eScope == EScope::kAll)
                priFire("ON_SELECT_ALL", nullptr);
            else if (m_eScope == (marked ? EScope::kSelected : EScope::kMarked))
                priFire(marked ? "ON_SELECT_SELECTED" : "ON_SELECT_MARKED", nullptr);
            priCanSaveUpdate();
            return;
        }
        count = marked ? m_nMarkedCount : m_nSelectedCount;
    }
    m_eScope = scope;
    priCheckResolutions();
    priCanSaveUpdate();
    priFire(count > 1 ? "ON_SAVING_MULTIPLE_IMAGE" : "ON_SAVING_SINGLE_IMAGE", nullptr);
}

void FUiSaveImagesAsWindow::priSizeMenuItem(const FWideString* pair, bool withSize)
{
    FWideString item[2] = {pair[0], pair[1]};
    if (m_pApp) {
        if (FIUiMultiLangString* text = m_pApp->GetDisplayString(item[0])) {
            if (const FWideString* current = text->GetText())
                item[0] = *current;
        }
    }
    if (withSize && m_nCommonPixels > 0) {
        const double scale = OutputScaleOf(item[1]);
        FWideString size;
        size.Format(" %03.1f MP", scale * scale * double(m_nCommonPixels) * 1e-6);
        item[0] += size;
    }
    priFire("ON_SET_IMAGESIZE_MENU_ITEM", item);
    FWideString chosen;
    priFire("ON_IMAGESIZE_GET_MENU_ID", &chosen);
    if (chosen == item[1])
        priFire("ON_IMAGESIZE_MENU_SET_TEXT", item);
}

// Every image in scope counts at its own size, and the scale applies to both sides.
int64_t FUiSaveImagesAsWindow::EstimateBytes(double scale, double bytesPerPixel) const
{
    double total = 0.0;
    for (const auto& entry : m_Entries) {
        if (priInScope(*entry))
            total += double(entry->m_nCols) * entry->m_nRows * scale * scale * bytesPerPixel;
    }
    return static_cast<int64_t>(total);
}

void FUiSaveImagesAsWindow::priPerformSave()
{
    FWideString fileType, outputSize, colorSpace, nativeDir;
    priFire("ON_GET_FILETYPE", &fileType);
    ApplySaveFileType(fileType, m_Request, m_dBytesPerPixel);
    priFire("ON_GET_OUTPUTSIZE", &outputSize);
    m_dScale = OutputScaleOf(outputSize);
    priFire("ON_GET_COLORSPACE", &colorSpace);
    m_Request.m_Settings.ColorSpace = ColorSpaceFromChoiceName(colorSpace, m_Request.m_Settings.ColorSpace);
    double jpegValue = 0.0;
    priFire("ON_GET_JPEG_VALUE", &jpegValue);
    m_dJpegValue = jpegValue;
    m_Request.m_nJpegQuality = RoundHalfUp(m_dJpegValue);
    priFire("ON_GET_NATIVE_DST_DIR", &nativeDir);
    if (nativeDir.IsEmpty()) {
        priFire("ON_SHOW_INVALID", nullptr);
        return;
    }
    FWideString url;
    if (!NativePathToURL(nativeDir, url)) {
        priFire("ON_SHOW_INVALID", nullptr);
        return;
    }
    MakePicturesFolderFor(url);
    m_usNativeDir = nativeDir;
    FIFolder* folder = nullptr;
    FWideString fileName;
    try {
        folder = m_openFolder(url, fileName);
    } catch (const FException&) {
        folder = nullptr;
    }
    if (folder && !fileName.IsEmpty()) {
        // A file, not a folder.
        ReleaseFolder(folder);
        priFire("ON_SHOW_INVALID", nullptr);
        return;
    }
    if (folder) {
        bool readOnly = true;
        int64_t freeSpace = 0;
        try {
            readOnly = folder->IsReadOnly();
            freeSpace = folder->GetFreeSpace();
        } catch (const FException&) {
        }
        ReleaseFolder(folder);
        if (readOnly) {
            priFire("ON_SHOW_INVALID_READ_ONLY", nullptr);
        } else if (freeSpace >= EstimateBytes(m_dScale, m_dBytesPerPixel)) {
            priStartSaveBatch(url);
        } else {
            priFire("ON_SHOW_INSUFFICIENT", nullptr);
        }
        return;
    }
    priFire(OnRemovableVolume(url, m_openFolder) ? "ON_SHOW_INVALID_READ_ONLY" : "ON_SHOW_INVALID", nullptr);
}

void FUiSaveImagesAsWindow::priProposeFolder()
{
    FWideString shown;
    priFire("ON_GET_NATIVE_DST_DIR", &shown);
    if (!shown.IsEmpty())
        return;
    FWideString proposed = ProposedSaveFolder(m_pApp);
    if (!proposed.IsEmpty())
        priFire("ON_SET_NATIVE_DST_DIR", &proposed);
}

void FUiSaveImagesAsWindow::priStartSaveBatch(const FWideString& folderURL)
{
    RememberSaveFolder(m_pApp, m_usNativeDir);
    std::vector<FWideString> folderParts;
    SplitURL(folderURL, folderParts);
    bool first = true;
    const int colorSpace = m_Request.m_Settings.ColorSpace;
    for (const auto& entry : m_Entries) {
        if (!priInScope(*entry))
            continue;
        StampSaveRequest(m_pApp, m_Request);
        m_Request.m_nOutCols = RoundHalfUp(entry->m_nCols * m_dScale);
        m_Request.m_nOutRows = RoundHalfUp(entry->m_nRows * m_dScale);
        m_Request.m_rCrop = FRect(0, 0, m_Request.m_nOutCols, m_Request.m_nOutRows);
        m_Request.m_usFileURL = entry->m_usURL;
        m_Request.m_nSettingMode = m_nMode;
        m_Request.m_usCustomName = m_nMode == CustomSettingMode ? m_usCustomName : FWideString();
        if (m_nMode == AutoSettingMode) {
            m_Request.m_bAutoSetFirst = true;
        } else if (m_nMode == Q7FSettingMode) {
            m_Request.m_bAutoSetFirst = false;
            if (m_pPool) {
                FImageFileListEntry own;
                own.SetURL(entry->m_usURL);
                bool read = false;
                try {
                    read = own.GetProps(m_pPool) && own.m_bPropsLoaded;
                } catch (const FException&) {
                }
                m_Request.m_Settings = read ? own.m_Settings : m_Chosen;
            }
        } else {
            m_Request.m_bAutoSetFirst = false;
            m_Request.m_Settings = m_Chosen;
        }
        m_Request.m_Settings.ColorSpace = colorSpace;
        m_Request.m_nJpegQuality = RoundHalfUp(m_dJpegValue);
        std::vector<FWideString> parts = folderParts;
        FWideString escaped;
        EscapeURLChars(SavedFileName(entry->m_usURL, m_Request.m_bJpeg == 1), escaped);
        parts.push_back(escaped);
        JoinURL(parts, m_Request.m_usDstURL, false);
        if (first) {
            priFire("ON_START_SAVE_BATCH", nullptr);
            first = false;
        }
        m_Request.m_bStoreSettings = m_bStoreSettings;
        priFire("ON_PERFORM_SAVE", &m_Request);
    }
}

bool FUiSaveImagesAsWindow::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Post Creation Initialization") {
        m_eScope = EScope::kAll;
        priFire("ON_SELECT_ALL", nullptr);
        priFire("ON_SELECT_AUTO", nullptr);
        priTwoUpdates();
    } else if (message == "SaveProcMode") {
        const char* name = m_nMode == AutoSettingMode     ? "Auto"
                           : m_nMode == CustomSettingMode ? "Custom"
                           : m_nMode == Q7FSettingMode    ? "Q7F"
                                                          : nullptr;
        if (name)
            priFireText("ON_SAVE_PROC_MODE", FWideString(name));
    } else if (message == "Reset") {
        std::vector<FWideString> saved;
        priFire("ON_GET_SAVED_LIST", &saved);
        priFire("ON_SEND_SAVED_LIST", &saved);
        priFireBool("ON_ENABLE_CUSTOM", !saved.empty());
        priFire("ON_CHECK_SETTINGS", nullptr);
        priCanSaveUpdate();
    } else if (message == "DefaultMode") {
        m_nMode = Q7FSettingMode;
        m_Chosen = ProcessingSettings();
        priTwoUpdates();
    } else if (message == "AutoMode") {
        m_nMode = AutoSettingMode;
        priTwoUpdates();
    } else if (message == "CustomMode") {
        m_nMode = CustomSettingMode;
        FWideString name;
        priFire("ON_GET_CUSTOM_SETTING", &name);
        FUiSettingsFetch fetch{&name, this};
        priFire("ON_FETCH_SETTING", &fetch);
        priTwoUpdates();
    } else if (message == "PerformSave") {
        priPerformSave();
    } else if (message == "AllImages") {
        priScopeMessage(EScope::kAll);
    } else if (message == "MarkedImages") {
        priScopeMessage(EScope::kMarked);
    } else if (message == "SelectedImages") {
        priScopeMessage(EScope::kSelected);
    } else if (!data) {
        return false;
    } else if (message == "SetSaveSettings") {
        m_bStoreSettings = *static_cast<const bool*>(data);
    } else if (message == "FileType") {
        // The quality means something for JPEG only.
        FUiIpObjectProcAndSaveReq chosen;
        double bytes = 0.0;
        if (ApplySaveFileType(*static_cast<const FWideString*>(data), chosen, bytes))
            priFireBool("ON_ENABLE_JPEG_QUALITY", chosen.m_bJpeg == 1);
    } else if (message == "SetProcMode") {
        const FWideString& mode = *static_cast<const FWideString*>(data);
        if (mode == "Q7F")
            priFire("ON_SELECT_DEFAULT", nullptr);
        else if (mode == "Auto")
            priFire("ON_SELECT_AUTO", nullptr);
        else if (mode == "Custom")
            priFire("ON_SELECT_CUSTOM", nullptr);
    } else if (message == "ImageFileList") {
        priProposeFolder();
        m_Entries.clear();
        for (auto* entry = static_cast<const FImageFileListEntry*>(data); entry; entry = entry->m_pNext)
            m_Entries.push_back(std::make_unique<FImageFileListEntry>(*entry));
        priCountImages();
        priCheckResolutions();
        priFire("ON_SET_IMAGESIZE_MENU_DEFAULT_ITEM", nullptr);
        priCanSaveUpdate();
    } else if (message == "AddImageSizeMenuItem" || message == "AddImageSizeMenuItemNoSize") {
        priSizeMenuItem(static_cast<const FWideString*>(data), message == "AddImageSizeMenuItem");
    } else if (message == "SelectedSetting") {
        m_usCustomName = *static_cast<const FWideString*>(data);
        if (!m_usCustomName.IsEmpty()) {
            FUiSettingsFetch fetch{&m_usCustomName, this};
            priFire("ON_FETCH_SETTING", &fetch);
            m_nMode = CustomSettingMode;
            priTwoUpdates();
        }
    } else if (message == "DeletedSetting") {
        if (*static_cast<const FWideString*>(data) == m_usCustomName) {
            m_usCustomName.Clear();
            priFire("ON_CLEAR_ADJ_MODE", nullptr);
            priFireText("ON_REQUEST_SETTING", m_usCustomName);
            priFire("ON_REQUESTED_SETTING_RELAY", static_cast<FIUiRelay*>(this));
            priTwoUpdates();
        }
    } else if (message == "RequestedSetting") {
        m_Chosen = *static_cast<const ProcessingSettings*>(data);
    }
    return false;
}
