#pragma once

// SAVE_IMAGE_WIN_MGR: the single save dialog. Takes the review window's image with
// "SaveCmd", proposes a file name, checks the name, the folder and its free space, asks
// before overwriting, and hands one save request to the progress window.

#include <cstdint>
#include <functional>

#include "FUiIpObjectRequest.h"
#include "FUiObject.h"
#include "FUiSaveImageCmd.h"

class FIFolder;
class FIUiObjectFactory;

class FUiSaveImageWindow : public FUiObject
{
public:
    explicit FUiSaveImageWindow(const char* typeName);

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;

    // Opens a destination folder (without creating it); the storage registry's by default.
    using FFolderOpener = std::function<FIFolder*(const FWideString& url, FWideString& fileName)>;
    void SetFolderOpener(FFolderOpener opener) { m_openFolder = std::move(opener); }

    // The typed name with its extension (from the last ".") replaced by the request's.
    static FWideString WithExtension(FWideString name, bool jpeg);
    // Whether the next request asks to store the adjustments in the raw file.
    bool GetStoreSettings() const { return m_bStoreSettings; }

private:
    void priSaveCmd(const FUiSaveImageCmd& cmd);
    void priFileType(const FWideString& type);
    void priSizeMenuItem(const FWideString* pair, bool withSize);
    void priPerformSave();
    void priSave();
    void priOutputSize();
    FIFolder* priOpen(const FWideString& url, FWideString& fileName);
    void priFire(const char* eventName, void* data);
    void priFireText(const char* eventName, const FWideString& text);

    FFolderOpener m_openFolder;
    FUiSaveImageCmd m_Cmd;
    FWideString m_usCustomName;
    FWideString m_usNativeDir;
    FWideString m_usFileName;
    double m_dScale = 1.0;
    bool m_bOverwrite = false;
    double m_dJpegValue = 10.0;
    double m_dBytesPerPixel = 0.33;
    FUiIpObjectProcAndSaveReq m_Request;
    bool m_bStoreSettings = false;
    int64_t m_nCommonPixels = 0;
    // Set while an overwrite question is open, so a stray "Reply" saves nothing.
    bool m_bAsking = false;
};

// Registers "SAVE_IMAGE_WIN_MGR".
bool RegisterSaveImageWindowCreator(FIUiObjectFactory* factory);
