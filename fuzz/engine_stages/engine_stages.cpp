// Camera data drives stages 1 to 4 of the engine: any container must end in an exception
// of the library or in a developed image, with every read inside its buffers.
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "FCamdata.h"
#include "FException.h"
#include "FIPERequest.h"
#include "FIPEStage2Setup.h"
#include "FIPEngineStages.h"
#include "FPropList.h"
#include "FSyntheticCapture.h"

namespace
{

constexpr int kW = 64;
constexpr int kH = 48;

const FSyntheticCapture& Capture()
{
    static const FSyntheticCapture capture = MakeSyntheticCapture(kW, kH);
    return capture;
}

void Develop(const FCamdata& cam)
{
    FSyntheticCapture capture = Capture();
    FPixmap48RGB raw(capture.raw.data(), kW, kH, 0), dark(capture.dark.data(), kW, kH, 0);
    std::vector<int16_t> image(3 * kW * kH), preMat(image.size()), rtnx(kW * kH);
    FPixmap48SRGB imagePixmap(image.data(), kW, kH, 0), preMatPixmap(preMat.data(), kW, kH, 0);
    FPixmap16SMono rtnxPixmap(rtnx.data(), kW, kH, 0);
    const int scratchRows = static_cast<int>(Stage2Setup::ScratchRowsNeeded(kW, kH));
    std::vector<int16_t> scratch(3 * static_cast<size_t>(kW) * scratchRows);
    FPixmap48SRGB scratchPixmap(scratch.data(), kW, scratchRows, 0);

    FIPERequestStage1 s1;
    s1.m_pRawImage = &raw;
    s1.m_pDarkImage = &dark;
    s1.m_pOutImage = &imagePixmap;
    s1.m_pCambData = &cam;
    IPEngineStages::ProcessStage1(&s1, 2);

    FPropList props(nullptr, "Capture");
    props.AddProp("WB_DESC", "Auto");
    FIPERequestStage2 s2;
    s2.m_pStage1Image = &imagePixmap;
    s2.m_pStage2PreMatImage = &preMatPixmap;
    s2.m_pCaptureProps = &props;
    s2.m_pCambData = &cam;
    s2.m_pTempData = &scratchPixmap;
    s2.m_pRtnxImage = &rtnxPixmap;
    std::memcpy(s2.m_aiSaturationLevel, s1.m_aiSaturationLevel, sizeof(s1.m_aiSaturationLevel));
    std::memcpy(s2.m_aiDarkShieldLevel, s1.m_aiDarkShieldLevel, sizeof(s1.m_aiDarkShieldLevel));
    IPEngineStages::ProcessStage2(&s2, 2);

    std::vector<int16_t> s3(3 * 48 * 36), l(48 * 36), r(48 * 36);
    FPixmap48SRGB s3Pixmap(s3.data(), 48, 36, 0);
    FPixmap16SMono lPixmap(l.data(), 48, 36, 0), rPixmap(r.data(), 48, 36, 0);
    int temp = 0;
    FIPERequestStage3 q3;
    q3.m_pStage2Image = &imagePixmap;
    q3.m_pStage2ImageRtnx = &rtnxPixmap;
    q3.m_iOutCols = 48;
    q3.m_iOutRows = 36;
    q3.m_rCrop = FRect(0, 0, 48, 36);
    q3.m_iRawCols = kW;
    q3.m_iRawRows = kH;
    q3.m_pCambData = &cam;
    q3.m_pTempData = &temp;
    q3.m_pOutImage = &s3Pixmap;
    q3.m_pOutImageL = &lPixmap;
    q3.m_pOutImageRtnx = &rPixmap;
    q3.m_bGreenWeighting = s2.m_bOlderModel;
    IPEngineStages::ProcessStage3(&q3, 2);

    std::vector<int16_t> tone(3 * 65536), rtnxLUT(65536, 256);
    FIPERequestGenerateToneLUT t;
    t.m_pToneLUT = tone.data();
    IPEngineStages::GenerateToneLUT(&t);
    std::vector<uint8_t> out(4 * 48 * 36);
    FPixmap_Display outPixmap(out.data(), 48, 36, 0);
    FIPERequestStage4 q4;
    q4.m_pStage3Image = &s3Pixmap;
    q4.m_pStage3ImageL = &lPixmap;
    q4.m_pStage3ImageRtnx = &rPixmap;
    q4.m_pCambData = &cam;
    q4.m_pToneLUT = tone.data();
    q4.m_pRtnxLUT = rtnxLUT.data();
    q4.m_pOutImage = &outPixmap;
    q4.m_bOlderModel = s2.m_bOlderModel;
    IPEngineStages::ProcessStage4(&q4, 2);

    // The same stages in strips of 10 rows, as a save streams them.
    FIPERequestStreamOutput stream;
    FIPERequestStage3& t3 = stream.m_Stage3;
    t3.m_pStage2Image = &imagePixmap;
    t3.m_pStage2ImageRtnx = &rtnxPixmap;
    t3.m_iOutCols = 48;
    t3.m_iOutRows = 36;
    t3.m_rCrop = FRect(0, 3, 48, 36);
    t3.m_iRawCols = kW;
    t3.m_iRawRows = kH;
    t3.m_pCambData = &cam;
    t3.m_bGreenWeighting = s2.m_bOlderModel;
    FIPERequestStage4& t4 = stream.m_Stage4;
    t4.m_pCambData = &cam;
    t4.m_pToneLUT = tone.data();
    t4.m_pRtnxLUT = rtnxLUT.data();
    t4.m_bOlderModel = s2.m_bOlderModel;
    stream.m_iOutputType = FPixmap::PIXEL_24_RGB;
    stream.m_iStripRows = 10;
    int rows = 0;
    stream.m_WriteRows = [&rows](const FPixmap& strip) { rows += strip.GetRows(); };
    IPEngineStages::StreamOutput(&stream, 2);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> buffer(data, data + size);
    try {
        FCamdata cam(buffer.data(), buffer.size());
        Develop(cam);
    } catch (const FException&) {
    } catch (const IPEngineStages::FIPEStatusError&) {
    } catch (const std::bad_alloc&) {
    }
    return 0;
}
