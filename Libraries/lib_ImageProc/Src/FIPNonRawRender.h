#pragma once

// Output of pictures that are not raw captures (JPEG and TIFF files): the decoded image
// taken through the steps a developed raw image ends with (size, crop, mirror and
// quarter turn, output colour space). The raw adjustments have nothing to work on here and are not
// applied.

#include <cstdint>
#include <memory>
#include <vector>

#include "FRect.h"

class FPixmap;

// Encoded RGB of one colour space (0 to 1 a channel) to 8- or 16-bit codes of another.
class FNonRawColor
{
public:
    // Throws FException for a colour space outside 0 to 11 or bits other than 8 or 16.
    FNonRawColor(int sourceSpace, int outputSpace, int bits);

    bool Matches(int sourceSpace, int outputSpace, int bits) const
    {
        return sourceSpace == m_iSource && outputSpace == m_iOutput && bits == m_iBits;
    }
    int GetBits() const { return m_iBits; }
    void Convert(const float in[3], uint16_t out[3]) const;

private:
    int m_iSource;
    int m_iOutput;
    int m_iBits;
    bool m_bIdentity;
    float m_aMatrix[3][3] = {};
    // Encoded source value (16-bit index) to linear light.
    std::vector<float> m_aDecode;
    // The square root of linear light (16-bit index) to output codes: fine steps where the
    // curves are steep.
    std::vector<uint16_t> m_aEncode;
};

struct FNonRawGeometry {
    // The whole output image: the picture turned and sized to this.
    int m_iOutCols = 0;
    int m_iOutRows = 0;
    // The part of it produced.
    FRect m_rCrop;
    // Clockwise degrees: 0, 90, 180 or 270.
    int m_iRotation = 0;
    // Left and right exchanged before the turn.
    bool m_bMirror = false;
};

class FNonRawRenderer
{
public:
    // For a decoded source of cols x rows. Throws FException for a rotation that is not a
    // quarter turn, an empty source or output, or a crop outside the output.
    FNonRawRenderer(int cols, int rows, const FNonRawGeometry& geometry,
                    std::shared_ptr<const FNonRawColor> color);

    // Source pixel types read directly; others are converted to 24-bit RGB first.
    static bool CanRead(int pixelType);

    // Rows [first, end) of the crop into the same rows of `out` (row 0 is the crop's top),
    // a 32-bit display, 24-bit or 48-bit RGB pixmap at least as wide as the crop. The
    // source must have the size and a type the renderer was made for, else FException.
    void RenderRows(const FPixmap& source, FPixmap& out, int first, int end) const;

    int GetCropRows() const { return m_rCrop.bottom - m_rCrop.top; }

private:
    // Per output position along one axis: the source positions it averages and their
    // weights, summing to 1.
    struct Taps {
        std::vector<int> first;
        std::vector<int> index;
        std::vector<float> weight;
        void Build(int sourceLength, int outputLength, int from, int to);
    };

    int m_iCols;
    int m_iRows;
    int m_iRotation;
    bool m_bMirror;
    bool m_bOneToOne = false;
    FRect m_rCrop;
    Taps m_Across;
    Taps m_Down;
    std::shared_ptr<const FNonRawColor> m_pColor;
};

// The largest reduction n (0 to 3: each side halved n times, rounding down) at which a
// source of cols x rows still covers an output of outCols x outRows after the turn.
int NonRawReduction(int cols, int rows, int outCols, int outRows, int rotation);
