#pragma once

// A development from coded raw payload to JPEG bytes through every built pixel stage, in
// the order a development runs them, with each stage timed. Shared by the chain benchmark
// and the test that holds its output to the same bytes for any thread count.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CorrectRowSegments.h"
#include "FCamdataAccessors.h"

namespace devchain
{

// A plausible calibration for the row transform: full polynomial, column filters, segments
// every 512 columns, a drift line and a 9 x 13 spatial gain table held by the object.
struct RowTransformCalibration {
    RowTransformCalibration();
    RowTransformCalibration(const RowTransformCalibration&) = delete;
    RowTransformCalibration& operator=(const RowTransformCalibration&) = delete;

    std::vector<float> gainNodes;
    FCamdataGainTable gainTable;
    FRowTransformSettings settings;
};

enum Stage {
    kDecode,        // format-6 Huffman rows
    kLinearize,     // linearisation table and dark frame with column offsets
    kRowSegments,   // per-row dark offsets from the shield columns
    kRowTransform,  // column filter, drift, polynomial, spatial gain
    kSpatialChroma, // chroma DQ
    kRedSharpen,    //
    kNoiseReduce,   // against the image as it was before chroma and sharpening
    kRetinex,       //
    kCubeRoot,      // into the cube-root domain colour output works in
    kColourOutput,  // tone, fill light, output matrix, transfer to 8 bits
    kJpeg,          // quality 90
    kStageCount
};

const char* StageName(int stage);

struct Result {
    double seconds[kStageCount] = {};
    std::vector<uint8_t> rgb;  // the 24-bit image handed to the JPEG writer
    std::vector<uint8_t> jpeg; // the file's bytes

    double Total() const;
};

class Chain
{
public:
    // A synthetic capture of this size, coded once; at least 64 x 64.
    Chain(int cols, int rows);
    ~Chain();
    Chain(const Chain&) = delete;
    Chain& operator=(const Chain&) = delete;

    int Cols() const;
    int Rows() const;
    // The linear scene as unsigned 16-bit RGB, for a reference pipeline to read.
    const std::vector<uint16_t>& Scene16() const;

    // One whole development; working storage is kept between runs, as an engine would.
    void Run(int threads, Result& result);

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

} // namespace devchain
