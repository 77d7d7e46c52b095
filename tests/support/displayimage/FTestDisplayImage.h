#pragma once

#include <cstdint>
#include <vector>

#include "FIPMImage.h"
#include "FPixmap.h"

// An engine output image over display pixels of its own, for widgets, benchmarks and fuzz
// targets that need one without the engine. Made with one reference; deletes itself at zero.
class FTestDisplayImage : public FIPMImage
{
public:
    // Every byte `value`.
    FTestDisplayImage(int cols, int rows, uint8_t value = 0);

    FPixmap* GetPixmap() override { return &m_pixmap; }
    FPropList* GetProperties() override { return nullptr; }
    void SetProperties(FPropList*) override {}
    FIHistogram* GetHistogramPtr() override { return nullptr; }
    FIHistogram* GetHistogram() override { return nullptr; }
    uint32_t AddRef() override { return ++m_refs; }
    uint32_t Release() override;

    // Four bytes a pixel, rows packed.
    uint8_t* Pixels() { return m_pixels.data(); }
    size_t ByteCount() const { return m_pixels.size() - kSlack; }

private:
    // A few bytes past the last row, so a reader that loads a whole pixel word stays inside.
    static constexpr size_t kSlack = 4;
    std::vector<uint8_t> m_pixels;
    FPixmap_Display m_pixmap;
    uint32_t m_refs = 1;
};
