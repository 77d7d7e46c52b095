#pragma once

#include <cstdint>

#include "FWideString.h"
#include "ProcessingSettings.h"

// The data of the review window's ON_SAVE_IMAGE: one image for the single save dialog.
struct FUiSaveImageCmd {
    FWideString m_usSrcURL;
    int32_t m_nSettingMode = Q7FSettingMode;
    ProcessingSettings m_Settings;
    // Sent empty.
    FWideString m_usCustomName;
    int32_t m_nWidth = 0;
    int32_t m_nHeight = 0;
};
