#include "ManagerTestFiles.h"

#include "BribFileBuilder.h"
#include "FCamdataBuilder.h"
#include "FSyntheticCapture.h"

namespace mgrtest
{

namespace
{

rawtest::ImageSection Frame(uint32_t version, uint32_t imageType, uint32_t format, int w, int h,
                            const uint16_t* samples, bool signedFrom, const uint16_t* dark)
{
    rawtest::ImageSection section;
    section.version = version;
    section.imageType = imageType;
    section.pixelFormat = format;
    section.columns = uint32_t(w);
    section.rows = uint32_t(h);
    section.rowSize = uint32_t(w * 6);
    const size_t count = size_t(3) * size_t(w) * size_t(h);
    section.payload.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        uint16_t v = samples[i];
        if (signedFrom)
            v = uint16_t(int16_t(int(samples[i]) - int(dark[i])));
        section.payload.push_back(uint8_t(v & 0xFF));
        section.payload.push_back(uint8_t(v >> 8));
    }
    return section;
}

} // namespace

std::vector<uint8_t> MakeManagerCamdata(int width, int height, uint32_t skipFlags, bool noCustomNeutral)
{
    FCamdataBuilder builder;
    // The first block of a name wins, so this replaces the calibration's own flags.
    builder.AddUInt32("SkipStepFlags", skipFlags);
    AddPlausibleCalibration(builder, width, height);
    if (noCustomNeutral) {
        for (FCamdataBuilder::Block& block : builder.CurrentSection().blocks) {
            if (block.name == "CustomRGBNeutral")
                block.name = "CustomRGBNeutralGone";
        }
    }
    return builder.Build();
}

rawtest::Bytes MakeRawFile(const RawFileOptions& o)
{
    rawtest::BribFileBuilder file;
    rawtest::BribHeader& header = file.GetHeader();
    header.columns = uint32_t(o.width);
    header.rows = uint32_t(o.height);
    header.rotation = uint32_t(o.rotation);
    header.uniqueId.fill(o.idByte);
    header.SetLabel(o.wbLabel);
    const uint32_t version = file.Top().version;
    file.Top().AddProperties({{"CAMMANUF", "Rawbench Test"},
                              {"CAMMODEL", o.model},
                              {"ISO", "100"},
                              {"EXPTIME", "8000"},
                              {"SHUTTER", "0.008"},
                              {"APERTURE", "8"}},
                             version);
    if (o.camfile) {
        rawtest::CamfileSection camfile;
        camfile.version = version;
        camfile.kind = 1;
        camfile.payload = MakeManagerCamdata(o.width, o.height, o.skipFlags, o.noCustomNeutral);
        file.Top().AddCamfile(camfile);
    }
    FSyntheticCapture capture = MakeSyntheticCapture(o.width, o.height, o.seed);
    if (o.darkSubtractedOnly) {
        file.Top().AddImage(
            Frame(version, 3, 29, o.width, o.height, capture.raw.data(), true, capture.dark.data()));
    } else {
        if (o.darkFrame)
            file.Top().AddImage(Frame(version, 0, 0, o.width, o.height, capture.dark.data(), false, nullptr));
        if (o.rawFrame)
            file.Top().AddImage(Frame(version, 1, 0, o.width, o.height, capture.raw.data(), false, nullptr));
    }
    return file.Build();
}

} // namespace mgrtest
