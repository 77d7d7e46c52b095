#include "DevelopableRaw.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "BribFileBuilder.h"
#include "FCamdataBuilder.h"
#include "FPixmap.h"
#include "FSyntheticCapture.h"
#include "JpegPreviewSection.h"
#include "RawCodec.h"

namespace developtest
{

namespace
{

std::array<uint8_t, 16> UniqueId(uint32_t seed)
{
    std::array<uint8_t, 16> id{};
    uint32_t x = seed * 2654435761u + 0x9E3779B9u;
    for (uint8_t& b : id) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x >> 24);
    }
    return id;
}

// A gamma-encoded, subsampled copy of the scene as a preview section.
rawtest::ImageSection Preview(const FSyntheticCapture& capture, int cols, int offset, bool jpeg)
{
    const int rows = std::max(1, int(int64_t(cols) * capture.height / capture.width));
    rawtest::ImageSection section;
    section.imageType = 2;
    section.pixelFormat = 3;
    section.columns = uint32_t(cols);
    section.rows = uint32_t(rows);
    section.rowSize = uint32_t(cols * 3);
    section.payload.reserve(size_t(cols) * rows * 3);
    for (int y = 0; y < rows; ++y) {
        const int sy = int(int64_t(y) * capture.height / rows);
        const uint16_t* raw = capture.raw.data() + size_t(sy) * capture.width * 3;
        const uint16_t* dark = capture.dark.data() + size_t(sy) * capture.width * 3;
        for (int x = 0; x < cols; ++x) {
            const int sx = int(int64_t(x) * capture.width / cols);
            for (int c = 0; c < 3; ++c) {
                const double linear = std::clamp(
                    double(raw[3 * sx + c] - dark[3 * sx + c]) / FSyntheticCapture::kWhiteLevel, 0.0, 1.0);
                section.payload.push_back(uint8_t(std::lround(255.0 * std::pow(linear, 1.0 / 2.2)) + offset));
            }
        }
    }
    if (jpeg)
        return rawtest::JpegPreviewSection(section.payload.data(), cols, rows);
    return section;
}

} // namespace

rawtest::ImageSection FrameSection(int imageType, int format, int cols, int rows,
                                   const std::vector<uint16_t>& samples, int pixelType)
{
    // The encoder only reads the samples.
    FPixmap* pixmap = NewFPixmap(pixelType, const_cast<uint16_t*>(samples.data()), cols, rows, cols * 6);
    const rawcodec::EncodedImage encoded = rawcodec::EncodeImage(format, *pixmap);
    delete pixmap;
    rawtest::ImageSection section;
    section.imageType = uint32_t(imageType);
    section.pixelFormat = uint32_t(encoded.m_iFormat);
    section.columns = uint32_t(encoded.m_iCols);
    section.rows = uint32_t(encoded.m_iRows);
    section.rowSize = uint32_t(encoded.m_iRowSize);
    section.payload.assign(encoded.m_payload.begin(), encoded.m_payload.end());
    return section;
}

std::string DevelopableUniqueId(uint32_t seed)
{
    std::string text;
    char digits[3];
    for (uint8_t b : UniqueId(seed)) {
        std::snprintf(digits, sizeof(digits), "%02X", b);
        text += digits;
    }
    return text;
}

rawtest::Bytes MakeDevelopableRaw(const DevelopableRawOptions& options)
{
    FSyntheticCapture synthetic;
    if (options.capture == nullptr)
        synthetic = MakeSyntheticCapture(options.cols, options.rows, options.seed, options.light);
    const FSyntheticCapture& capture = options.capture != nullptr ? *options.capture : synthetic;
    rawtest::BribFileBuilder file(rawtest::kVersion22);
    rawtest::BribHeader& header = file.GetHeader();
    header.columns = uint32_t(options.cols);
    header.rows = uint32_t(options.rows);
    header.rotation = uint32_t(options.rotation);
    header.uniqueId = UniqueId(options.seed);
    header.SetLabel(options.whiteBalance);

    std::vector<std::pair<std::string, std::string>> properties = {
        {"CAMMANUF", "Rawbench Test"}, {"CAMMODEL", "Synthetic 3"}, {"ISO", "200"}, {"EXPTIME", "8000"}};
    if (!options.shutter.empty())
        properties.emplace_back("SHUTTER", options.shutter);
    if (!options.aperture.empty())
        properties.emplace_back("APERTURE", options.aperture);
    properties.insert(properties.end(),
                      {{"EXPCOMP", "0"}, {"FLASH", "0"}, {"WB_DESC", options.whiteBalance}});
    file.Top().AddProperties(properties);

    FCamdataBuilder camdata;
    AddPlausibleCalibration(camdata, options.cols, options.rows);
    const std::vector<uint8_t> camBytes = camdata.Build();
    file.Top().AddCamfile(1, rawtest::Bytes(camBytes.begin(), camBytes.end()));

    if (options.darkSubtracted) {
        std::vector<uint16_t> subtracted(capture.raw.size());
        for (size_t i = 0; i < subtracted.size(); ++i)
            subtracted[i] = uint16_t(std::max(0, int(capture.raw[i]) - int(capture.dark[i])));
        file.Top().AddImage(
            FrameSection(3, 29, options.cols, options.rows, subtracted, FPixmap::PIXEL_48S_RGB));
    } else {
        file.Top().AddImage(
            FrameSection(1, 0, options.cols, options.rows, capture.raw, FPixmap::PIXEL_48_RGB));
        file.Top().AddImage(
            FrameSection(0, 0, options.cols, options.rows, capture.dark, FPixmap::PIXEL_48_RGB));
    }
    for (int cols : options.previewCols)
        file.Top().AddImage(Preview(capture, cols, options.previewOffset, options.jpegPreviews));
    return file.Build();
}

} // namespace developtest
