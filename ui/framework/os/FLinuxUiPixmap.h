#pragma once

#include "FIOsUiPixmap.h"

#include <cstdint>
#include <memory>

// The pixel memory of one UI pixmap: a plain top-down buffer, presentable by any window.
class FLinuxUiPixmap : public FIOsUiPixmap
{
public:
    FLinuxUiPixmap(FIGenericUiPixmap* owner, bool osBitmap);
    ~FLinuxUiPixmap() override = default;

    void* GetOsInfo(int kind) override;
    bool SetOsInfo(int kind, void* info) override;

    // Makes width x height pixels, uncleared; false when the size is refused or memory
    // runs out.
    bool Allocate(int width, int height);
    // Hands the owner a display pixmap over the pixels.
    void PublishToOwner();

    uint8_t* GetPixels() const { return m_pPixels.get(); }
    int GetStride() const { return m_iStride; }

private:
    FIGenericUiPixmap* m_pOwner;
    int m_iWidth = 0;
    int m_iHeight = 0;
    int m_iStride = 0;
    std::unique_ptr<uint8_t[]> m_pPixels;
    // Non-null for pixmaps asked for as OS bitmaps; its address is their handle.
    void* m_pHandle;
};
