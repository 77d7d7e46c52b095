#include "DevChain.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <stdexcept>

#include "ChromaBlur.h"
#include "CorrectRowSegments.h"
#include "FBribImageDecoder.h"
#include "FBribImageReaderImpl.h"
#include "FCamdataAccessors.h"
#include "FGlobalLUTsClass.h"
#include "FHasProperties.h"
#include "FIRNoiseReduction.h"
#include "FJPEGLineWriter.h"
#include "FPixelProc2.h"
#include "LinearizeAndDarkSubtract.h"
#include "RawCodec.h"
#include "RedSharpenRow.h"
#include "Retinex.h"
#include "RunInRowBands.h"
#include "ToneLUT.h"

namespace devchain
{

namespace
{

using Image = FPixmapTemplate<FPixelClass48SRGB>;
using Mono = FPixmapTemplate<FPixelClass16SMono>;

constexpr int kShield = 16; // dark columns at each side, read by the row-segment stage
constexpr int kDarkLevel = 64;

// A frame whose every step along a row fits the format's 10-bit differences: dark shields,
// smooth shading, soft-edged patches and sensor noise.
void MakeScene(int cols, int rows, std::vector<uint16_t>& raw, std::vector<uint16_t>& dark)
{
    std::mt19937 rng(19);
    std::normal_distribution<double> noise(0.0, 18.0);
    raw.resize(3 * static_cast<size_t>(cols) * rows);
    dark.resize(raw.size());
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            for (int c = 0; c < 3; ++c) {
                const size_t i = 3 * (static_cast<size_t>(y) * cols + x) + c;
                dark[i] = static_cast<uint16_t>(kDarkLevel + static_cast<int>(rng() % 5) - 2);
                double v = 0.0;
                if (x >= kShield && x < cols - kShield) {
                    const double u = static_cast<double>(x) / cols, w = static_cast<double>(y) / rows;
                    v = 900.0 + 700.0 * std::sin(6.0 * u + c) * std::cos(4.0 * w - c) + 900.0 * w;
                    // Patches with 24-pixel ramps at their edges.
                    const double px = std::fmod(u * 7.0, 1.0), py = std::fmod(w * 5.0, 1.0);
                    const double edge =
                        std::clamp(std::min({px, 1.0 - px, py, 1.0 - py}) * cols / 7.0 / 24.0, 0.0, 1.0);
                    v += edge * (((x * 7 / cols + y * 5 / rows + c) % 3) * 600.0);
                    v += noise(rng);
                    // Fade in from the shield so the first steps stay small.
                    const int fromEdge = std::min(x - kShield, cols - kShield - 1 - x);
                    v *= std::min(1.0, fromEdge / 24.0);
                }
                raw[i] =
                    static_cast<uint16_t>(std::clamp(dark[i] + static_cast<int>(std::lround(v)), 0, 4095));
            }
}

template <class T>
T* RowOf(std::vector<T>& v, int cols, int y, int channels = 3)
{
    return v.data() + static_cast<size_t>(channels) * cols * y;
}

} // namespace

RowTransformCalibration::RowTransformCalibration() : gainNodes(9 * 13 * 3)
{
    for (size_t i = 0; i < gainNodes.size(); ++i)
        gainNodes[i] = 0.9f + 0.001f * static_cast<float>(i % 97);
    gainTable.m_pData = gainNodes.data();
    gainTable.m_iColumns = 13;
    gainTable.m_iRows = 9;
    FRowTransformSettings& st = settings;
    st.columnFilter = {0.03, 0.02, 0.01};
    st.columnFilterSquare = {0.001, 0.001, 0.001};
    st.segmentCapacitance = {0.002, 0.002, 0.002};
    st.segmentFeedThrough = {1.0, 1.0, 1.0};
    st.segmentInterval = 512;
    const double drift[12] = {3, 3, 3, 1, 1, 1, -3, -3, -3, 2, 2, 2};
    st.drift = FDriftPair::FromCoefficients(drift);
    for (int i = 0; i < 27; ++i)
        st.poly.m[i] = 0.0001f * static_cast<float>(i % 5 - 2);
    st.gainTable = &gainTable;
    st.gain = {1.8, 1.0, 1.5};
}

const char* StageName(int stage)
{
    static const char* const names[kStageCount] = {
        "decode",       "linearize", "row_segments", "row_transform", "chroma_dq", "red_sharpen",
        "noise_reduce", "retinex",   "cube_root",    "colour_out",    "jpeg_q90"};
    return stage >= 0 && stage < kStageCount ? names[stage] : "";
}

double Result::Total() const
{
    double t = 0.0;
    for (double s : seconds)
        t += s;
    return t;
}

struct Chain::Impl {
    int cols = 0;
    int rows = 0;
    std::vector<uint16_t> dark;
    std::vector<uint16_t> scene16;
    rawcodec::EncodedImage encoded;
    BribImageHead head{};
    FColorLUT linearTable{4096};
    std::vector<int16_t> columnOffsets;
    RowTransformCalibration transform;
    FColorLUT tone{65536};
    std::unique_ptr<FLUT> transfer = MakeOutputTransferLUT(2, 8);
    FLUT retinexGain{kRetinexGainLUTSize};
    FColorMatrix outputMatrix;

    // Working storage kept between runs.
    std::vector<int16_t> decoded, image, reference, stage3, detail, retinex;
    std::vector<FDoubleRGB> rowOffsets;
    FIRScratch nrScratch;
    FRetinexScratch retinexScratch;
};

Chain::Chain(int cols, int rows) : m_pImpl(std::make_unique<Impl>())
{
    if (cols < 64 || rows < 64)
        throw std::invalid_argument("devchain: image too small");
    Impl& d = *m_pImpl;
    d.cols = cols;
    d.rows = rows;
    std::vector<uint16_t> raw;
    MakeScene(cols, rows, raw, d.dark);
    d.scene16.resize(raw.size());
    for (size_t i = 0; i < raw.size(); ++i)
        d.scene16[i] = static_cast<uint16_t>(std::max(0, raw[i] - d.dark[i]) << 4);

    const size_t samples = raw.size();
    d.decoded.resize(samples);
    std::copy(raw.begin(), raw.end(), d.decoded.begin());
    Image rawImage(d.decoded.data(), cols, rows, 0);
    d.encoded = rawcodec::EncodeImage(6, rawImage);
    d.head.m_iPixelFormat = d.encoded.m_iFormat;
    d.head.m_iCols = d.encoded.m_iCols;
    d.head.m_iRows = d.encoded.m_iRows;
    d.head.m_iRowSize = d.encoded.m_iRowSize;

    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 4096; ++i)
            d.linearTable.GetChannel(c)[i] =
                static_cast<int16_t>(std::lround(4095.0 * std::pow(i / 4095.0, 1.05)));
    d.columnOffsets.resize(3 * static_cast<size_t>(cols));
    for (size_t i = 0; i < d.columnOffsets.size(); ++i)
        d.columnOffsets[i] = static_cast<int16_t>(static_cast<int>(i * 2654435761u >> 29) - 3);

    MakeToneLUT(0.3, 0.2, 0.1, -0.2, 1.1, 1.0, 0.9, *FGlobalLUTsClass::GetCubeLUT(), d.tone);
    MakeRetinexGainLUT(&d.retinexGain, 0.3, 256);
    ComputeOutputMatrix(d.outputMatrix, 2, 0.3);

    d.image.resize(samples);
    d.reference.resize(samples);
    d.stage3.resize(samples);
    d.detail.assign(static_cast<size_t>(cols) * rows, 0);
    d.retinex.resize(static_cast<size_t>(cols) * rows);
    d.rowOffsets.resize(static_cast<size_t>(rows));
}

Chain::~Chain() = default;

int Chain::Cols() const
{
    return m_pImpl->cols;
}

int Chain::Rows() const
{
    return m_pImpl->rows;
}

const std::vector<uint16_t>& Chain::Scene16() const
{
    return m_pImpl->scene16;
}

void Chain::Run(int threads, Result& result)
{
    Impl& d = *m_pImpl;
    const int cols = d.cols, rows = d.rows;
    Image decoded(d.decoded.data(), cols, rows, 0);
    Image image(d.image.data(), cols, rows, 0);
    Image reference(d.reference.data(), cols, rows, 0);
    auto clock = std::chrono::steady_clock::now();
    auto lap = [&](Stage s) {
        const auto now = std::chrono::steady_clock::now();
        result.seconds[s] = std::chrono::duration<double>(now - clock).count();
        clock = now;
    };

    FBribPayload payload(d.encoded.m_payload.data(), d.encoded.m_payload.size());
    if (!FBribImageDecoder::Decode(payload, d.head, decoded, nullptr, nullptr))
        throw std::runtime_error("devchain: decode failed");
    lap(kDecode);

    RunInRowBands(rows, threads, [&](int first, int end) {
        for (int y = first; y < end; ++y)
            DarkSubtractRowWithOffset(RowOf(d.dark, cols, y),
                                      reinterpret_cast<const uint16_t*>(RowOf(d.decoded, cols, y)), cols,
                                      &d.linearTable, RowOf(d.image, cols, y), d.columnOffsets.data());
    });
    lap(kLinearize);

    CorrectRowSegments(d.rowOffsets.data(), image, static_cast<uint32_t>(rows), 2, kShield - 2,
                       cols - kShield + 2, cols - 3, FDoubleRGB(0.02, 0.02, 0.02), FDriftPair(), 0.8, 16.0,
                       FRect(kShield, 4, cols - kShield, rows - 4), true);
    lap(kRowSegments);

    d.transform.settings.rowOffsets = d.rowOffsets.data();
    TransformImageFixed(image, d.transform.settings, threads);
    lap(kRowTransform);

    // The noise reduction's reference: the image before chroma filtering and sharpening.
    std::memcpy(d.reference.data(), d.image.data(), d.image.size() * sizeof(int16_t));
    const FColorLUT& chromaTable =
        *FGlobalLUTsClass::GetTanhLUTs(FDoubleRGB(600, 480, 720), FDoubleRGB(1, 1, 1));
    SpatialChromaDQImage(image, 150, chromaTable, 3, threads);
    lap(kSpatialChroma);

    RedSharpenImage(image, 4, 2048, 0, threads);
    lap(kRedSharpen);

    FIRNoiseReduction(image, reference, 0.0011f, 0.0019f, 0.019f, 1.0f, 0.55f, 5.0f, 7.0f, 0.7f, 1.0f, 1.0f,
                      d.nrScratch, threads);
    lap(kNoiseReduce);

    Mono retinex(d.retinex.data(), cols, rows, 0);
    MultiScaleRetinex(image, retinex, 1.0 / 60, 4.0, 100, nullptr, d.retinexScratch, threads);
    lap(kRetinex);

    result.rgb.resize(3 * static_cast<size_t>(cols) * rows);
    const FLUT& cubeRoot = *FGlobalLUTsClass::GetCubeRootLUT();
    RunInRowBands(rows, threads, [&](int first, int end) {
        const size_t from = 3 * static_cast<size_t>(cols) * first, to = 3 * static_cast<size_t>(cols) * end;
        for (size_t i = from; i < to; ++i)
            d.stage3[i] = static_cast<int16_t>(cubeRoot.Get(d.image[i]));
    });
    lap(kCubeRoot);

    RunInRowBands(rows, threads, [&](int first, int end) {
        const int n = end - first;
        const Image s3(RowOf(d.stage3, cols, first), cols, n, 0);
        const Mono l(RowOf(d.detail, cols, first, 1), cols, n, 0);
        const Mono r(RowOf(d.retinex, cols, first, 1), cols, n, 0);
        FPixmapTemplate<FPixelClass24RGB> out(RowOf(result.rgb, cols, first), cols, n, 0);
        FPixelProc2::ProcessToOutput(s3, l, &r, 0.2, d.tone, &d.retinexGain, d.outputMatrix, *d.transfer,
                                     false, out);
    });
    lap(kColourOutput);

    result.jpeg.clear();
    {
        FPixmapTemplate<FPixelClass24RGB> rgb(result.rgb.data(), cols, rows, 0);
        FJPEGImageWriter writer(&result.jpeg, 9, false);
        writer.WriteImage(rgb, FHasProperties());
    }
    lap(kJpeg);
}

} // namespace devchain
