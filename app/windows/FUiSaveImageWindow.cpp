#include "FUiSaveImageWindow.h"

#include <vector>

#include "FCodePage.h"
#include "FException.h"
#include "FIStorageClass.h"
#include "FIUiApp.h"
#include "FUiMultiLangString.h"
#include "FUiObjectFactory.h"
#include "FUiSaveImagesAsWindow.h"
#include "StorageClassRegistry.h"

namespace
{

class FUiSaveImageWindowCreator final : public FIUiObjectCreator
{
public:
    FIUiObject* CreateUiObject(const char* typeName) override { return new FUiSaveImageWindow(typeName); }
};

const char* const kEvents[] = {
    "ON_INIT",
    "ON_SRC_RESOLUTION",
    "ON_SRC_FILENAME",
    "ON_SET_DST_FILENAME",
    "ON_GET_DST_FILENAME",
    "ON_SET_DST_FOLDERNAME",
    "ON_PERFORM_SAVE",
    "ON_SET_ADJUSTMENT_MODE",
    "ON_SET_CUSTOM_NAME",
    "ON_SHOW_INVALID",
    "ON_SHOW_OVERWRITE",
    "ON_SHOW_INVALID_CHAR",
    "ON_SET_REPLY",
    "ON_SHOW_INSUFFICIENT",
    "ON_GET_OUTPUTSIZE",
    "ON_GET_FILETYPE",
    "ON_GET_COLORSPACE",
    "ON_GET_JPEG_VALUE",
    "ON_GET_NATIVE_DST_DIR",
    "ON_SET_NATIVE_DST_DIR",
    "ON_ENABLE_JPEG_QUALITY",
    "ON_START_SAVE_BATCH",
    "ON_SHOW_INVALID_READ_ONLY_FILE",
    "ON_SET_IMAGESIZE_MENU",
    "ON_SET_IMAGESIZE_MENU_ITEM",
    "ON_IMAGESIZE_GET_MENU_ID",
    "ON_IMAGESIZE_MENU_SET_TEXT",
};

void ReleaseFolder(FIFolder* folder)
{
    if (folder)
        folder->Release();
}

bool HasForbiddenChar(const FWideString& name)
{
    for (char16_t c : {u'\\', u'/', u':', u'*', u'?', u'"', u'<', u'>', u'|'}) {
        const char16_t text[2] = {c, 0};
        if (name.Find(FWideString(text)))
            return true;
    }
    return false;
}

// The longest file name the disk takes, in UTF-8 bytes; a longer one would only fail
// once the conversion is done.
constexpr size_t kMaxFileNameBytes = 255;

bool TooLongForTheDisk(const FWideString& name)
{
    return Utf8FromWide(name).size() > kMaxFileNameBytes;
}

} // namespace

bool RegisterSaveImageWindowCreator(FIUiObjectFactory* factory)
{
    if (!factory)
        return false;
    auto* creator = new FUiSaveImageWindowCreator;
    if (factory->Register("SAVE_IMAGE_WIN_MGR", creator))
        return true;
    delete creator;
    return false;
}

FUiSaveImageWindow::FUiSaveImageWindow(const char* typeName) : FUiObject(typeName)
{
    for (const char* name : kEvents)
        AddEvent(FWideString(name));
    m_openFolder = [](const FWideString& url, FWideString& fileName) {
        return OpenFolderURL(url, fileName, false);
    };
    // Until the dialog names a type the save is a JPEG with EXIF.
    m_Request.m_bJpeg = 1;
    m_Request.m_bExif = true;
}

bool FUiSaveImageWindow::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    InitNonVisualUiObject(this, app, window, parent, tag);
    return true;
}

void FUiSaveImageWindow::priFire(const char* eventName, void* data)
{
    if (RelayEvent* event = FindEvent(FWideString(eventName)))
        event->Fire(data);
}

void FUiSaveImageWindow::priFireText(const char* eventName, const FWideString& text)
{
    FWideString copy(text);
    priFire(eventName, &copy);
}

// Only the text from the last "." on goes, so "photo.jpeg" and "a.b.jpg" keep their stems.
FWideString FUiSaveImageWindow::WithExtension(FWideString name, bool jpeg)
{
    RemoveFileExtension(name);
    name += jpeg ? ".jpg" : ".tif";
    return name;
}

FIFolder* FUiSaveImageWindow::priOpen(const FWideString& url, FWideString& fileName)
{
    try {
        return m_openFolder(url, fileName);
    } catch (const FException&) {
        return nullptr;
    }
}

void FUiSaveImageWindow::priSaveCmd(const FUiSaveImageCmd& cmd)
{
    m_Cmd = cmd;
    m_bAsking = false;
    FWideString shown;
    priFire("ON_GET_NATIVE_DST_DIR", &shown);
    FWideString proposed = shown.IsEmpty() ? ProposedSaveFolder(m_pApp) : FWideString();
    if (!proposed.IsEmpty())
        priFire("ON_SET_NATIVE_DST_DIR", &proposed);
    int mode = 0;
    if (cmd.m_nSettingMode == AutoSettingMode)
        mode = 1;
    else if (cmd.m_nSettingMode == CustomSettingMode)
        mode = 2;
    priFire("ON_SET_ADJUSTMENT_MODE", &mode);
    std::vector<FWideString> parts;
    FWideString name;
    if (SplitURL(cmd.m_usSrcURL, parts) && !parts.empty())
        UnescapeURLChars(parts.back(), name);
    priFireText("ON_SRC_FILENAME", name);
    priFireText("ON_SET_DST_FILENAME", SavedFileName(cmd.m_usSrcURL, m_Request.m_bJpeg == 1));
    FWideString text;
    text.Format("%03.1f MP (%i%s%i%s3)", double(cmd.m_nWidth) * cmd.m_nHeight * 3 * 1e-6, cmd.m_nWidth, " x ",
                cmd.m_nHeight, " x ");
    priFireText("ON_SRC_RESOLUTION", text);
    m_nCommonPixels = int64_t(cmd.m_nWidth) * cmd.m_nHeight;
    priFire("ON_SET_IMAGESIZE_MENU", nullptr);
}

void FUiSaveImageWindow::priFileType(const FWideString& type)
{
    priFire("ON_GET_DST_FILENAME", &m_usFileName);
    if (ApplySaveFileType(type, m_Request, m_dBytesPerPixel)) {
        m_usFileName = WithExtension(m_usFileName, m_Request.m_bJpeg == 1);
        // The quality means something for JPEG only.
        bool jpeg = m_Request.m_bJpeg == 1;
        priFire("ON_ENABLE_JPEG_QUALITY", &jpeg);
    }
    priFireText("ON_SET_DST_FILENAME", m_usFileName);
}

void FUiSaveImageWindow::priSizeMenuItem(const FWideString* pair, bool withSize)
{
    FWideString item[2] = {pair[0], pair[1]};
    if (m_pApp) {
        if (FIUiMultiLangString* text = m_pApp->GetDisplayString(item[0])) {
            if (const FWideString* current = text->GetText())
                item[0] = *current;
        }
    }
    if (withSize) {
        const double scale = OutputScaleOf(item[1]);
        FWideString size;
        size.Format(" %03.1f MP", scale * scale * double(m_nCommonPixels) * 1e-6);
        item[0] += size;
    }
    priFire("ON_SET_IMAGESIZE_MENU_ITEM", item);
    // The remembered size shows in the words of this language and this image.
    FWideString chosen;
    priFire("ON_IMAGESIZE_GET_MENU_ID", &chosen);
    if (chosen == item[1])
        priFire("ON_IMAGESIZE_MENU_SET_TEXT", item);
}

void FUiSaveImageWindow::priOutputSize()
{
    m_Request.m_nOutCols = RoundHalfUp(m_Cmd.m_nWidth * m_dScale);
    m_Request.m_nOutRows = RoundHalfUp(m_Cmd.m_nHeight * m_dScale);
}

void FUiSaveImageWindow::priPerformSave()
{
    m_bAsking = false;
    FWideString fileType, outputSize, colorSpace;
    priFire("ON_GET_FILETYPE", &fileType);
    priFileType(fileType);
    priFire("ON_GET_OUTPUTSIZE", &outputSize);
    m_dScale = OutputScaleOf(outputSize);
    priOutputSize();
    priFire("ON_GET_COLORSPACE", &colorSpace);
    m_Request.m_Settings.ColorSpace = ColorSpaceFromChoiceName(colorSpace, m_Request.m_Settings.ColorSpace);
    double jpegValue = m_dJpegValue;
    priFire("ON_GET_JPEG_VALUE", &jpegValue);
    m_dJpegValue = jpegValue;
    m_Request.m_nJpegQuality = RoundHalfUp(m_dJpegValue);
    m_usNativeDir.Clear();
    priFire("ON_GET_NATIVE_DST_DIR", &m_usNativeDir);
    priFire("ON_GET_DST_FILENAME", &m_usFileName);
    FWideString url;
    if (m_usNativeDir.IsEmpty() || m_usFileName.IsEmpty() || !NativePathToURL(m_usNativeDir, url)) {
        priFire("ON_SHOW_INVALID", nullptr);
        return;
    }
    MakePicturesFolderFor(url);
    FWideString leaf;
    FIFolder* folder = priOpen(url, leaf);
    if (folder && !leaf.IsEmpty()) {
        // A file, not a folder.
        ReleaseFolder(folder);
        priFire("ON_SHOW_INVALID", nullptr);
        return;
    }
    if (folder) {
        const int64_t estimate =
            static_cast<int64_t>(double(m_Request.m_nOutCols) * m_Request.m_nOutRows * m_dBytesPerPixel);
        bool readOnly = true, exists = false, isFolder = false;
        int64_t freeSpace = 0;
        bool badName = HasForbiddenChar(m_usFileName);
        if (!badName) {
            m_usFileName = WithExtension(m_usFileName, m_Request.m_bJpeg == 1);
            badName = TooLongForTheDisk(m_usFileName);
        }
        if (!badName) {
            try {
                readOnly = folder->IsReadOnly();
                freeSpace = folder->GetFreeSpace();
                exists = folder->Exists(m_usFileName, &isFolder);
            } catch (const FException&) {
                readOnly = true;
            }
        }
        ReleaseFolder(folder);
        if (badName) {
            priFire("ON_SHOW_INVALID_CHAR", nullptr);
        } else if (readOnly) {
            priFire("ON_SHOW_INVALID_READ_ONLY_FILE", nullptr);
        } else if (freeSpace < estimate) {
            priFire("ON_SHOW_INSUFFICIENT", nullptr);
        } else if (exists && isFolder) {
            // A folder of that name cannot be replaced by the image.
            priFire("ON_SHOW_INVALID", nullptr);
        } else if (exists) {
            m_bAsking = true;
            priFire("ON_SHOW_OVERWRITE", nullptr);
            priFire("ON_SET_REPLY", static_cast<FIUiRelay*>(this));
        } else {
            priSave();
        }
        return;
    }
    priFire(OnRemovableVolume(url, m_openFolder) ? "ON_SHOW_INVALID_READ_ONLY_FILE" : "ON_SHOW_INVALID",
            nullptr);
}

void FUiSaveImageWindow::priSave()
{
    priOutputSize();
    m_Request.m_rCrop = FRect(0, 0, m_Request.m_nOutCols, m_Request.m_nOutRows);
    m_Request.m_usFileURL = m_Cmd.m_usSrcURL;
    FWideString url, leaf;
    if (!NativePathToURL(m_usNativeDir, url))
        return;
    FIFolder* folder = priOpen(url, leaf);
    if (!folder)
        return;
    bool exists = true, isFolder = false;
    try {
        exists = folder->Exists(m_usFileName, &isFolder);
    } catch (const FException&) {
        exists = true;
    }
    ReleaseFolder(folder);
    if (isFolder || (exists && !m_bOverwrite))
        return;
    std::vector<FWideString> parts;
    SplitURL(url, parts);
    FWideString escaped;
    EscapeURLChars(m_usFileName, escaped);
    parts.push_back(escaped);
    JoinURL(parts, m_Request.m_usDstURL, false);
    RememberSaveFolder(m_pApp, m_usNativeDir);
    StampSaveRequest(m_pApp, m_Request);
    m_Request.m_nSettingMode = m_Cmd.m_nSettingMode;
    m_Request.m_usCustomName = m_Cmd.m_nSettingMode == CustomSettingMode ? m_usCustomName : FWideString();
    m_Request.m_bStoreSettings = m_bStoreSettings;
    m_Request.m_bSecondPass = m_bOverwrite;
    if (m_Cmd.m_nSettingMode == AutoSettingMode) {
        m_Request.m_bAutoSetFirst = true;
    } else {
        m_Request.m_bAutoSetFirst = false;
        const int colorSpace = m_Request.m_Settings.ColorSpace;
        m_Request.m_Settings = m_Cmd.m_Settings;
        m_Request.m_Settings.ColorSpace = colorSpace;
    }
    priFire("ON_START_SAVE_BATCH", nullptr);
    priFire("ON_PERFORM_SAVE", &m_Request);
}

bool FUiSaveImageWindow::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Post Creation Initialization") {
        priFire("ON_INIT", nullptr);
        m_dBytesPerPixel = 0.33;
    } else if (message == "we're goin' bye-bye") {
    } else if (message == "PerformSave") {
        priPerformSave();
    } else if (!data) {
        return false;
    } else if (message == "SetSaveSettings") {
        m_bStoreSettings = *static_cast<const bool*>(data);
    } else if (message == "SaveCmd") {
        priSaveCmd(*static_cast<const FUiSaveImageCmd*>(data));
    } else if (message == "AddImageSizeMenuItem" || message == "AddImageSizeMenuItemNoSize") {
        priSizeMenuItem(static_cast<const FWideString*>(data), message == "AddImageSizeMenuItem");
    } else if (message == "CustomSettingName") {
        m_usCustomName = *static_cast<const FWideString*>(data);
        if (m_Cmd.m_nSettingMode == CustomSettingMode)
            priFireText("ON_SET_CUSTOM_NAME", m_usCustomName);
    } else if (message == "FileType") {
        priFileType(*static_cast<const FWideString*>(data));
    } else if (message == "Reply") {
        const bool asked = m_bAsking;
        m_bAsking = false;
        if (asked && *static_cast<const FWideString*>(data) == "OverWrite") {
            m_bOverwrite = true;
            priSave();
            m_bOverwrite = false;
        }
    } else {
        return false;
    }
    return true;
}
