#pragma once

#include <cstdint>
#include <vector>

#include "FIntRGB.h"
#include "FPixmap.h"

// Repairs of near-saturated highlights in signed 48-bit images: pixels near the clip level
// are pulled toward a neutral grey of the same channel sum, and the pixels in and around
// fully saturated areas are replaced by the mean of their neighbourhood.

// From the camera's neutral and saturation: clip (the brightest neutral the sensor
// holds), low (clip minus half its smallest channel) and chroma (the neutral's shares in
// Q12). A neutral with a channel that is not positive and finite gives zeros, which the
// filters treat as "nothing to do".
void NeighborizeThresholds(const FDoubleRGB& neutral, const FIntRGB& saturation, FIntRGB& low, FIntRGB& clip,
                           FIntRGB& chroma);

// The caller's ring buffers, each row `columns` long: three pixel rows (pass-4 outputs
// waiting to be written back), three and five flag rows; oldest first.
struct FNeighborizeRings {
    int16_t* pixels[3] = {};
    uint8_t* flags3[3] = {};
    uint8_t* flags5[5] = {};
};

// One step of the top-to-bottom sweep for image row y (current); the previous rows are
// null where the image has none yet. Returns the pixels replaced in this step. The
// result for row y - 2 reaches the image two calls later.
int NeighborizeOutliers(int16_t* current, int16_t* previous1, int16_t* previous2, int16_t* previous3,
                        int16_t* previous4, FNeighborizeRings& rings, bool multiFrame, uint32_t columns,
                        const FIntRGB& low, const FIntRGB& clip, const FIntRGB& chroma);

// Owns the rings and row pointers of one sweep. Finish writes back the two results still
// in the ring after the last row, so the rows near the bottom are repaired too.
class FNeighborizeSweep
{
public:
    FNeighborizeSweep(uint32_t columns, bool multiFrame, const FIntRGB& low, const FIntRGB& clip,
                      const FIntRGB& chroma);
    FNeighborizeSweep(const FNeighborizeSweep&) = delete;
    FNeighborizeSweep& operator=(const FNeighborizeSweep&) = delete;

    // Rows in order from the top; each stays valid until Finish.
    int AddRow(int16_t* row);
    void Finish();

    // Everything the next row's result depends on: the rings in their order and the last
    // four rows as they stand. Two sweeps with equal states go on alike.
    void AppendState(std::vector<int16_t>& out) const;

private:
    uint32_t m_iColumns;
    bool m_bMultiFrame;
    FIntRGB m_low, m_clip, m_chroma;
    std::vector<int16_t> m_pixelStore;
    std::vector<uint8_t> m_flagStore;
    FNeighborizeRings m_rings;
    int16_t* m_pRows[4] = {};
    bool m_bActive = false;
    bool m_bFinished = false;
};

// The whole sweep over an image, in place; returns the pixels replaced. In up to
// `threads` bands with the result of one sweep: each band guesses the sweep's state at its
// first row from a halo of rows above it, and a band whose guess was wrong is swept again
// from its original rows until the sweeps agree.
int NeighborizeImage(const FPixmapTemplate<FPixelClass48SRGB>& image, bool multiFrame, const FIntRGB& low,
                     const FIntRGB& clip, const FIntRGB& chroma, int threads = 1);
// The same with the halo's rows given: fewer guess wrong more often, which changes only
// the time.
int NeighborizeImage(const FPixmapTemplate<FPixelClass48SRGB>& image, bool multiFrame, const FIntRGB& low,
                     const FIntRGB& clip, const FIntRGB& chroma, int threads, int haloRows);

// Fringe removal on the current row's saturated pixels: reddish neighbours in the 3 x 3
// (Extended: 5 x 5 without corners, over the previous and next rows' centres) become, or
// are blended with, their neutral grey. All three rows may change.
void NeighborizeRow(int16_t* current, int16_t* previous, int16_t* next, uint32_t columns, const FIntRGB& low,
                    const FIntRGB& clip, const FIntRGB& chroma);
void NeighborizeRowExtended(int16_t* current, int16_t* previous, int16_t* next, uint32_t columns,
                            const FIntRGB& low, const FIntRGB& clip, const FIntRGB& chroma);
