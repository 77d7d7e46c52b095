#pragma once

#include <atomic>
#include <cstdint>

#include "FIPERequest.h"
#include "FRect.h"

class FCacheObject;
class FImage;
class FMutex;
class FPixmap;
class FPropList;

// Counts of a 32-bit display image: per channel byte value, and per luminance value.
class FIHistogram
{
public:
    struct ColorBin {
        uint32_t red;
        uint32_t green;
        uint32_t blue;
    };

    FIHistogram();

    // Recounts from a display pixmap (blue, green, red, ignored byte); rows advance by the
    // stride. Any other pixel type leaves every bin and the count 0.
    void Compute(const FPixmap& pixmap);

    const ColorBin* GetColorBins() const { return m_aColor; }
    const uint32_t* GetLumBins() const { return m_aLum; }
    uint32_t GetCount() const { return m_uCount; }

private:
    ColorBin m_aColor[256];
    uint32_t m_aLum[256];
    uint32_t m_uCount = 0;
};

// A produced image: its pixmap, properties, histogram, shared by reference count.
class FIPMImage
{
public:
    virtual ~FIPMImage() = default;
    virtual FPixmap* GetPixmap() = 0;
    virtual FPropList* GetProperties() = 0;
    // Takes ownership of the list and deletes the one held before.
    virtual void SetProperties(FPropList* list) = 0;
    // Null until GetHistogram ran once.
    virtual FIHistogram* GetHistogramPtr() = 0;
    // Computes from the current pixels on every call.
    virtual FIHistogram* GetHistogram() = 0;
    virtual uint32_t AddRef() = 0;
    // The count left; the image deletes itself when it reaches 0.
    virtual uint32_t Release() = 0;
};

// The first bytes of every image stage object in the cache; the pixmap header and the pixel
// rows follow it in the same block. Written by an engine thread only while the computing
// manager holds m_pMutex.
struct FIPMStageImageRecord {
    static constexpr int kResumeWords = 10;

    // Stage 1: its saturation and dark-shield level triples, which stage 2 reads. Stages 3
    // and 4: crop left, top, right, bottom, output columns and rows.
    int32_t m_aiGeometry[6];
    // Stage 2 results: exposure, shadow, contrast, highlight, saturation.
    double m_adAutoSettings[5];
    double m_dRetinex;
    double m_adOutputNeutral[3];
    uint8_t m_bOlderModel;
    FPixmap* m_pPixmap;
    // Working image of stages 2 and 3, made once per block and freed with it.
    FImage* m_pScratch;
    std::atomic<uint8_t> m_bValid;
    FMutex* m_pMutex;
    uint32_t m_ResumeState[kResumeWords];
    // Stage 2's measurements of the image, kept with its resume state so that a continued
    // stage measures nothing again.
    FIPEStage2Carry m_Stage2Carry;
};

// The first bytes of every lookup-table stage object; the table follows.
struct FIPMStageLUTRecord {
    static constexpr int kTableEntries = 65536;

    int16_t* m_pData;
    // Three tables one after another (red, green, blue) instead of one.
    uint8_t m_bColorLUT;
    std::atomic<uint8_t> m_bValid;
    FMutex* m_pMutex;
    uint32_t m_ResumeState[FIPMStageImageRecord::kResumeWords];
};

namespace FIPMCommon
{

// An output image over a cached stage result, which it keeps referenced (so not evicted).
class Image : public FIPMImage
{
public:
    // Takes one cache reference on the object; count 1.
    explicit Image(FCacheObject* object);
    ~Image() override;
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    FPixmap* GetPixmap() override;
    FPropList* GetProperties() override { return m_pProps; }
    void SetProperties(FPropList* list) override;
    FIHistogram* GetHistogramPtr() override { return m_pHistogram; }
    FIHistogram* GetHistogram() override;
    uint32_t AddRef() override;
    uint32_t Release() override;

    FCacheObject* GetCacheObject() const { return m_pObject; }

private:
    FCacheObject* m_pObject;
    FPropList* m_pProps = nullptr;
    FIHistogram* m_pHistogram = nullptr;
    std::atomic<uint32_t> m_uRefCount{1};
};

// Largest block a stage object may take; the cache sizes blocks with an int.
inline constexpr int64_t kMaxStageBlockBytes = 0x7FFFFFFF;

// The stage object under the label: an existing one as it is, whatever its type and size;
// else the unreferenced stage image under `recycle` (a result no longer wanted) when it has
// the same type and size, relabelled and made invalid with its pixels as they were; else a
// new block of record, header and rows. Null when the sizes are not positive, the block
// would exceed kMaxStageBlockBytes, or the cache refuses. An unknown pixel type throws
// FException.
FCacheObject* AllocCacheImage(const char16_t* label, int pixelType, int cols, int rows,
                              const char16_t* recycle = nullptr);
// The same for a table of 65536 signed 16-bit entries, three of them when colour.
FCacheObject* AllocCacheLUT(const char16_t* label, bool color);

// The records at the start of a stage object's block.
FIPMStageImageRecord* GetStageImageRecord(FCacheObject* object);
FIPMStageLUTRecord* GetStageLUTRecord(FCacheObject* object);

// Rotates the rectangle inside an image of cols x rows by the angle (degrees, 16.16 fixed
// point, truncating) and replaces the size by the rotated image's size. An angle that is
// not finite changes nothing.
void RotateRect(FRect& rect, int& cols, int& rows, double degrees);
// RotateRect for a rectangle of whole pixels (right and bottom exclusive): the last pixel
// inside is turned instead of the exclusive corner, so the result covers the same pixels.
void TurnRect(FRect& rect, int& cols, int& rows, double degrees);

} // namespace FIPMCommon
