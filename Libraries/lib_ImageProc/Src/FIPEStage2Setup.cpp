#include "FIPEStage2Setup.h"

#include <algorithm>
#include <cmath>

#include "EAutoWB.h"
#include "EAutoWBChromaWt.h"
#include "EstimateFlare.h"
#include "FCamdata.h"
#include "FCamdataAccessors.h"
#include "FDebugTrace.h"
#include "FIPERequest.h"
#include "FPixelProc2.h"
#include "FPropList.h"
#include "FStopwatch.h"

namespace Stage2Setup
{

namespace
{

double Finite(double v)
{
    return std::isfinite(v) ? v : 0.0;
}

bool AnyNonZero(const int32_t v[3])
{
    return v[0] != 0 || v[1] != 0 || v[2] != 0;
}

FWideString PropString(const FPropList* props, const char* name)
{
    return props != nullptr ? props->GetString(name, FWideString()) : FWideString();
}

double PropFloat(const FPropList* props, const char* name)
{
    return props != nullptr ? Finite(props->GetFloat(name, 0.0)) : 0.0;
}

FColorMatrix Diagonal(double a, double b, double c)
{
    FColorMatrix d;
    d.Set(a, 0, 0, 0, b, 0, 0, 0, c);
    return d;
}

FDoubleRGB Scaled(const FDoubleRGB& v, double s)
{
    return {v.r * s, v.g * s, v.b * s};
}

} // namespace

double CamFloat(const char* name, const FCamdata& camdata)
{
    return Finite(GetCamdataFloat(name, camdata));
}

FDoubleRGB CamFloatRGB(const char* name, const FCamdata& camdata, const FDoubleRGB& fallback)
{
    FDoubleRGB v;
    GetCamdataFloatRGBOr(v, name, camdata, fallback);
    if (!std::isfinite(v.r) || !std::isfinite(v.g) || !std::isfinite(v.b))
        return fallback;
    return v;
}

FColorMatrix CamMatrix(const char* name, const FCamdata& camdata)
{
    FColorMatrix m;
    GetCamdataColorMatrix(m, name, camdata);
    for (auto& row : m.m)
        for (double v : row)
            if (!std::isfinite(v))
                return FColorMatrix();
    return m;
}

FDoubleRGB NeutralFor(const FColorMatrix& U, const FDoubleRGB& white)
{
    FColorMatrix inverse;
    if (!FColorMatrix::Inverse(inverse, U))
        return {1.0, 1.0, 1.0};
    return inverse.Apply(white);
}

int64_t ScratchRowsNeeded(int cols, int rows)
{
    if (cols <= 0 || rows <= 0)
        return 2;
    const int64_t quarter = ((static_cast<int64_t>(rows) + 3) / 4) * ((static_cast<int64_t>(cols) + 3) / 4);
    return (quarter + cols - 1) / cols + 2;
}

void ReadSensor(const FIPERequestStage2& request, FStage2Params& p)
{
    const FCamdata& cam = *request.m_pCambData;
    const FPropList* props = request.m_pCaptureProps;

    const FWideString maker = PropString(props, "CAMMANUF");
    DebugTrace("CAMMANUF: %s\n", maker.GetNarrow());
    p.m_bMaker = maker == "TALVO" || maker == "TALVO.CO";

    bool found = false;
    const uint16_t rowOffset = GetCamdataUShort("UseColorAverageRowOffset", cam, &found);
    p.m_bRowOffsetMode = found ? rowOffset != 0 : !p.m_bMaker;
    const uint16_t slope = GetCamdataUShort("UseSlopeInDrift", cam, &found);
    p.m_bSlopeMode = found ? slope != 0 : p.m_bMaker;

    double captureISO = CamFloat("CaptureISO", cam);
    if (captureISO == 0.0)
        captureISO = Finite(request.m_dISO);
    // A ratio from a zero or negative ISO would divide the gains by zero later.
    if (captureISO <= 0.0)
        captureISO = 100.0;
    double sensorISO = CamFloat("SensorISO", cam);
    if (sensorISO <= 0.0)
        sensorISO = 100.0;
    p.m_dCaptureISO = captureISO;
    p.m_dIsoRatio = captureISO / sensorISO;

    p.m_uBulbFrames = GetCamdataUInt("BulbFrameCount", cam);
    p.m_bBulb = p.m_uBulbFrames > 1;
    p.m_iIsoGain = p.m_dIsoRatio >= 2.0 && !p.m_bBulb ? 2 : 1;
    p.m_dReducedRatio = p.m_dIsoRatio / p.m_iIsoGain;
    const double n = static_cast<double>(p.m_uBulbFrames);

    if (AnyNonZero(request.m_aiDarkShieldLevel) && AnyNonZero(request.m_aiSaturationLevel)) {
        p.m_Saturation = {request.m_aiSaturationLevel[0] - request.m_aiDarkShieldLevel[0],
                          request.m_aiSaturationLevel[1] - request.m_aiDarkShieldLevel[1],
                          request.m_aiSaturationLevel[2] - request.m_aiDarkShieldLevel[2]};
    } else {
        GetCamdataShortRGB(p.m_Saturation, "SaturationLevel", cam);
    }
    if (p.m_bBulb) {
        const double k = std::min(std::sqrt(n - 1.0) * 0.4, 1.2);
        p.m_Saturation = {static_cast<int32_t>(k * p.m_Saturation.r),
                          static_cast<int32_t>(k * p.m_Saturation.g),
                          static_cast<int32_t>(k * p.m_Saturation.b)};
    }

    p.m_dNoiseScale = 1.0;
    if (p.m_bBulb) {
        p.m_dNoiseScale = std::sqrt(n + 1.0) + n / 6.0;
        if (p.m_dIsoRatio < 2.0)
            p.m_dNoiseScale *= std::sqrt(2.0);
    }

    p.m_dExposureSeconds = PropFloat(props, "SHUTTER");
    if (p.m_dExposureSeconds == 0.0)
        p.m_dExposureSeconds = PropFloat(props, "EXPTIME") * 0.000001;
    if (p.m_dExposureSeconds == 0.0)
        p.m_dExposureSeconds = request.m_iExposureTime * 0.000001;

    const FWideString model = PropString(props, "CAMMODEL");
    p.m_bMV3 = model == "TALVO MV3";
    p.m_bMV60 = model == "TALVO MV60";
    p.m_bMV90 = model == "TALVO MV90";
    p.m_bOlderModel = p.m_bMV3 || p.m_bMV60 || p.m_bMV90;

    GetCamdataRect(p.m_rKeep, "KeepImageArea", cam);
    GetCamdataRect(p.m_rActive, "ActiveImageArea", cam);
    p.m_rActive.OffsetFrom(p.m_rKeep.left, p.m_rKeep.top);

    p.m_uSkipFlags = GetCamdataUInt("SkipStepFlags", cam);
    const uint16_t firOff = GetCamdataUShort("FIR_DisableStep", cam);
    p.m_bFIRDisabled = (p.m_uSkipFlags & kSkipFIR) != 0 || firOff != 0;
    if (p.m_bFIRDisabled)
        DebugTrace("SKIPPING FIR NOISE REDUCTION!\n");

    uint32_t despeckleThreshold = GetCamdataUInt("DespeckleExpTimeThresh", cam);
    if (despeckleThreshold == 0)
        despeckleThreshold = 150000;
    p.m_bDespecklePerChannel =
        p.m_bBulb || static_cast<int64_t>(request.m_iExposureTime) > static_cast<int64_t>(despeckleThreshold);

    p.m_usWBName =
        !request.m_usWhiteBalance.IsEmpty() ? request.m_usWhiteBalance : PropString(props, "WB_DESC");
    p.m_V = {Finite(request.m_adInputNeutral[0]), Finite(request.m_adInputNeutral[1]),
             Finite(request.m_adInputNeutral[2])};
}

void SelectMatrix(const FIPERequestStage2& request, FStage2Params& p)
{
    const FCamdata& cam = *request.m_pCambData;
    const char* wb = p.m_usWBName.GetNarrow();
    FPropList illuminants(nullptr, "WBIlluminants");
    FPropList corrections(nullptr, "CL7_WBColorCorrections");
    FPropList gains(nullptr, "CL7_WBGains");
    cam.GetPropertyList("WhiteBalanceIlluminants", &illuminants);
    cam.GetPropertyList("CL7_WhiteBalanceColorCorrections", &corrections);
    cam.GetPropertyList("CL7_WhiteBalanceGains", &gains);

    bool tryCL7 = true;
    const uint32_t one = 1;
    if (cam.GetMatrix("CCMatrix_Flag", kCamdataUInt32, 1, &one) != nullptr)
        tryCL7 = GetCamdataUInt("CCMatrix_Flag", cam) == 1;
    else if (cam.GetMatrix("CCMatrix_Flag", kCamdataInt32, 1, &one) != nullptr)
        tryCL7 = GetCamdataInt("CCMatrix_Flag", cam) == 1;

    bool chosen = false;
    if (tryCL7 && corrections.GetPropCount() > 0 && gains.GetPropCount() > 0) {
        const FWideString cc = corrections.GetString(wb, FWideString());
        const FWideString g = gains.GetString(wb, FWideString());
        FColorMatrix U = CamMatrix(cc.GetNarrow(), cam);
        const FDoubleRGB G = CamFloatRGB(g.GetNarrow(), cam, FDoubleRGB(0, 0, 0));
        if (U.m[0][0] != 0.0 && G.r != 0.0) {
            p.m_bCL7 = true;
            if (p.m_bOlderModel) {
                FColorMatrix M;
                M.Set(0.4124, 0.3576, 0.1805, 0.2126, 0.7151, 0.0721, 0.0193, 0.1192, 0.9505);
                U = FColorMatrix::Multiply(M, U);
            }
            U = FColorMatrix::Multiply(U, Diagonal(G.r, G.g, G.b));
            p.m_U = U;
            p.m_V = NeutralFor(U, p.m_bOlderModel ? kD65 : FDoubleRGB(1.0, 1.0, 1.0));
            chosen = true;
        }
    }
    if (!chosen) {
        if (illuminants.GetPropCount() == 0) {
            p.m_bIlluminantList = false;
            p.m_U = CamMatrix("CamToXYZ", cam);
            if (p.m_U.m[0][0] == 0.0)
                p.m_U = CamMatrix("CamToXYZ_Flash", cam);
        } else {
            const FWideString e = illuminants.GetString(wb, FWideString());
            if (e.IsEmpty()) {
                p.m_U = CamMatrix("CamToXYZ_Flash", cam);
                if (p.m_usWBName == "Monochrome") {
                    FDoubleRGB w = NeutralFor(p.m_U, kD65);
                    const double top = std::max({w.r, w.g, w.b});
                    if (top != 0.0 && std::isfinite(top))
                        w = Scaled(w, 1.0 / top);
                    double sum = 0.0;
                    for (int i = 0; i < 3; ++i)
                        sum += p.m_U.m[i][0] * w.r + p.m_U.m[i][1] * w.g + p.m_U.m[i][2] * w.b;
                    const double s = sum / 9.0;
                    p.m_U.Set(s, 2 * s, s, s, 2 * s, s, s, 2 * s, s);
                }
            } else {
                p.m_U = CamMatrix(e.GetNarrow(), cam);
                FPropList wbCorrections(nullptr, "WBCorrections");
                cam.GetPropertyList("WhiteBalanceCorrections", &wbCorrections);
                const FWideString c = wbCorrections.GetString(wb, FWideString());
                if (wbCorrections.GetPropCount() > 0 && !c.IsEmpty())
                    p.m_U = FColorMatrix::Multiply(CamMatrix(c.GetNarrow(), cam), p.m_U);
            }
        }
    }

    p.m_bMonochrome = std::fabs(p.m_U.Determinant()) < 0.0001;

    if (request.m_pCaptureProps != nullptr && !p.m_bMonochrome) {
        const double k = p.m_bMV3 ? 0.06 : (p.m_bMV60 ? 0.02 : 0.0);
        if (k != 0.0) {
            const FDoubleRGB w = NeutralFor(p.m_U, kD65);
            FColorMatrix X;
            X.Set(1, 0, 0, 0, 1, 0, k, k, 1 - 2 * k);
            const FColorMatrix Up = FColorMatrix::Multiply(X, p.m_U);
            const FDoubleRGB v = Up.Apply(w);
            if (v.r != 0.0 && v.g != 0.0 && v.b != 0.0)
                p.m_U = FColorMatrix::Multiply(Diagonal(kD65.r / v.r, kD65.g / v.g, kD65.b / v.b), Up);
        }
    }
}

void DarkGainsAndPost(const FIPERequestStage2& request, FStage2Params& p)
{
    const FCamdata& cam = *request.m_pCambData;
    double* d = p.m_adRawDrift;
    GetCamdataDriftCoefficients(d, "RawDrift", cam);
    for (int i = 0; i < 12; ++i)
        d[i] = Finite(d[i]);
    if (GetCamdataUInt("UsePreComputedDrift", cam) == 0 && p.m_bMaker) {
        for (int c = 0; c < 3; ++c)
            d[9 + c] += 0.5 * d[6 + c];
        for (int i = 0; i < 6; ++i)
            d[i] = d[6 + i];
    }

    const double n = static_cast<double>(p.m_uBulbFrames);
    double q[3];
    FIntRGB accum, accumN;
    if (p.m_bBulb) {
        GetCamdataIntRGB(accum, "BulbAccumOffset", cam);
        GetCamdataIntRGB(accumN, "BulbAccumOffsetN", cam);
    }
    const int32_t a[3] = {accum.r, accum.g, accum.b};
    const int32_t an[3] = {accumN.r, accumN.g, accumN.b};
    for (int c = 0; c < 3; ++c) {
        const double mean = 0.5 * (d[3 + c] + d[9 + c]);
        if (p.m_bBulb) {
            const double t = (an[c] - 4095.0) * (n - 1.0) - (a[c] - 4095.0);
            q[c] = (mean - t) / n;
        } else {
            q[c] = mean;
        }
    }
    p.m_BlackDiff = {q[0] - (q[1] + q[2]) / 2, q[1] - (q[0] + q[2]) / 2, q[2] - (q[0] + q[1]) / 2};

    FDoubleRGB F = CamFloatRGB("DarkGainFactor", cam, FDoubleRGB(0, 0, 0));
    if (F.r == 0.0 && F.g == 0.0 && F.b == 0.0)
        F = {1.25, 1.25, 1.25};
    if (!p.m_bBulb) {
        const FDoubleRGB fallback =
            p.m_bMV3 ? FDoubleRGB(0.00000025, 0.00000025, 0.00000025) : FDoubleRGB(0, 0, 0);
        const FDoubleRGB scale = CamFloatRGB("DarkGainScale", cam, fallback);
        const double us = request.m_iExposureTime;
        F = {F.r * us * scale.r, F.g * us * scale.g, F.b * us * scale.b};
    }
    const FDoubleRGB O = CamFloatRGB("DarkNormalOffset", cam, FDoubleRGB(0, 0, 0));
    FDoubleRGB g{1.0 + (p.m_BlackDiff.r - O.r) * F.r / 4096.0, 1.0 + (p.m_BlackDiff.g - O.g) * F.g / 4096.0,
                 1.0 + (p.m_BlackDiff.b - O.b) * F.b / 4096.0};
    if (!p.m_bBulb) {
        g.r = std::clamp(g.r, 0.98, 1.01);
        g.g = std::clamp(g.g, 0.98, 1.01);
        g.b = std::clamp(g.b, 0.98, 1.04);
    }
    if (!std::isfinite(g.r) || !std::isfinite(g.g) || !std::isfinite(g.b))
        g = {1.0, 1.0, 1.0};
    p.m_DarkGain = g;
    p.m_U = FColorMatrix::Multiply(p.m_U, Diagonal(g.r, g.g, g.b));

    GetCamdataPolyMatrix(p.m_Post.m, "PostPolyMatrix", cam);
    for (float& v : p.m_Post.m)
        if (!std::isfinite(v))
            v = 0.0f;
    if (p.m_bBulb) {
        double o = CamFloat("BulbCurvatureOffset", cam);
        FDoubleRGB cf = CamFloatRGB("BulbCurvatureFactor", cam, FDoubleRGB(0, 0, 0));
        if (o == 0.0) {
            cf = {1.0, 1.0, 1.0};
            o = 1.0;
        }
        const double gain[3] = {g.r, g.g, g.b}, factor[3] = {cf.r, cf.g, cf.b};
        for (int r = 0; r < 3; ++r)
            if (n - o != 0.0)
                p.m_Post.m[r * 9 + r] = static_cast<float>(gain[r] * factor[r] / (n - o));
    }
}

void SelectNeutral(const FIPERequestStage2& request, FStage2Params& p)
{
    const FCamdata& cam = *request.m_pCambData;
    const FDoubleRGB unit{1.0, 1.0, 1.0};
    if (p.m_V.g > 0.0) {
        p.m_bPreset = false;
        return;
    }
    if (p.m_bIlluminantList) {
        if (p.m_usWBName == "Auto") {
            p.m_V = CamFloatRGB("AutoRGBNeutral", cam, FDoubleRGB(0, 0, 0));
            p.m_bPreset = false;
        } else if (p.m_usWBName == "Custom") {
            p.m_V = CamFloatRGB("CustomRGBNeutral", cam, FDoubleRGB(0, 0, 0));
            p.m_bPreset = false;
        } else if (p.m_usWBName == "Monochrome") {
            p.m_V = unit;
            p.m_bMonochrome = true;
            p.m_bPreset = false;
        }
        if (!(p.m_V.g > 0.0))
            p.m_V = p.m_bMonochrome ? unit : NeutralFor(p.m_U, kD65);
        return;
    }
    p.m_V = CamFloatRGB("RGBNeutral", cam, FDoubleRGB(0, 0, 0));
    if (!(p.m_V.r > 0.0) || !(p.m_V.g > 0.0) || !(p.m_V.b > 0.0))
        p.m_V = p.m_bMonochrome ? unit : NeutralFor(p.m_U, kD65);
    p.m_bPreset = false;
}

void ImageItems(FIPERequestStage2& request, FStage2Params& p, int threads)
{
    const FCamdata& cam = *request.m_pCambData;
    FPixmap48SRGB& image = *request.m_pStage1Image;
    FIPEStage2Carry& carry = request.m_Carry;
    const int cols = image.GetCols();
    const int rows = image.GetRows();

    if (carry.m_bValid == 0) {
        const double f = CamFloat("LinLUT_ReductionFactor", cam);
        if (f != 0.0 && f != 1.0) {
            const int64_t m = static_cast<int64_t>(f * 16384.0);
            for (int y = 0; y < rows; ++y) {
                int16_t* row = image.GetRow(y);
                for (int i = 0; i < 3 * cols; ++i)
                    row[i] = static_cast<int16_t>(std::clamp<int64_t>((m * row[i]) >> 14, -32768, 32767));
            }
        }

        double table[12] = {};
        const uint32_t precomputed = GetCamdataUInt("UsePreComputedDrift", cam);
        if (precomputed != 0 && GetCamdataUInt("EnableMovieDriftCorrection", cam) == 0) {
            GetCamdataDriftCoefficients(table, "DarkDrift", cam);
            for (double& v : table)
                v = Finite(v);
        } else {
            FRect top, bottom;
            GetCamdataRect(top, "DarkShieldTop", cam);
            GetCamdataRect(bottom, "DarkShieldBottom", cam);
            top.OffsetFrom(p.m_rKeep.left, p.m_rKeep.top);
            bottom.OffsetFrom(p.m_rKeep.left, p.m_rKeep.top);
            // Clipped to the image on every side, so no shield row lies outside it.
            for (FRect* r : {&top, &bottom}) {
                r->left = std::max(r->left, 0);
                r->top = std::max(r->top, 0);
                r->right = std::min(r->right, cols);
                r->bottom = std::min(r->bottom, rows);
            }
            if (top.Height() > 0 && bottom.Height() > 0) {
                FDriftPair pair;
                CalculateDriftPair(pair, &image, top, bottom);
                const FDoubleRGB parts[4] = {pair.top.slope, pair.top.level, pair.bottom.slope,
                                             pair.bottom.level};
                for (int i = 0; i < 4; ++i) {
                    table[3 * i] = parts[i].r;
                    table[3 * i + 1] = parts[i].g;
                    table[3 * i + 2] = parts[i].b;
                }
                if (std::fabs(table[3]) > 4000.0)
                    std::fill(table, table + 12, 0.0);
            }
        }
        if (!p.m_bSlopeMode) {
            std::fill(table, table + 3, 0.0);
            std::fill(table + 6, table + 9, 0.0);
        }
        if (p.m_bBulb) {
            const int32_t o[3] = {static_cast<int32_t>(0.5 * (table[3] + table[9])),
                                  static_cast<int32_t>(0.5 * (table[4] + table[10])),
                                  static_cast<int32_t>(0.5 * (table[5] + table[11]))};
            FIntRGB m;
            AverageDarkestPixels(m, image, 4, 4, 4, o[0], o[1], o[2]);
            const int32_t L = (m.r + 2 * m.g + m.b) >> 3;
            const int32_t mc[3] = {m.r, m.g, m.b};
            for (int c = 0; c < 3; ++c)
                table[3 + c] = table[9 + c] = o[c] + (3 * (mc[c] - L)) / 4;
        }
        std::copy(table, table + 12, carry.m_adDrift);
    }
    p.m_Drift = FDriftPair::FromCoefficients(carry.m_adDrift);

    p.m_bAutoWB = (p.m_uSkipFlags & kAutoWBAlways) != 0 || (!p.m_bCL7 && p.m_usWBName == "Auto");
    if (p.m_bAutoWB) {
        if (carry.m_bNeutralValid == 0) {
            const FPropList* props = request.m_pCaptureProps;
            const double aperture = PropFloat(props, "APERTURE");
            const double compensation = PropFloat(props, "EXPCOMP");
            double maxTime = CamFloat("MaxConstrainTime", cam);
            if (maxTime == 0.0)
                maxTime = 0.5;
            const bool constrain = p.m_dExposureSeconds <= maxTime;
            FStopwatch watch;
            watch.Start();
            FDoubleRGB neutral;
            if ((p.m_uSkipFlags & kAutoWBGrayWorld) != 0) {
                FColorMatrix Wm;
                ComputeWorkingColorMatrix(Wm, p.m_U, FDoubleRGB(-1, -1, -1), p.m_dIsoRatio, 0.0);
                neutral = AutoWhiteBalanceGrayWorld(&image, p.m_Post, p.m_Saturation, aperture,
                                                    p.m_dExposureSeconds, compensation, Wm, p.m_dIsoRatio,
                                                    p.m_Drift, constrain);
            } else {
                FDoubleRGB flare;
                EstimateFlare(flare, image, CamFloatRGB("FlareFactor", cam, FDoubleRGB(0, 0, 0)));
                const bool flash =
                    PropString(props, "FLASH") == "ON" && PropFloat(props, "FLASHEXPCOMP") >= -0.5;
                const double* d = carry.m_adDrift;
                const FDoubleRGB offsets{flare.r + 0.5 * (d[3] + d[9]), flare.g + 0.5 * (d[4] + d[10]),
                                         flare.b + 0.5 * (d[5] + d[11])};
                neutral = AutoWhiteBalanceChromaWt(&image, p.m_Saturation, p.m_Post, aperture,
                                                   p.m_dExposureSeconds, compensation, flash, p.m_U,
                                                   p.m_dIsoRatio, offsets, constrain, threads);
            }
            watch.Stop();
            DebugTrace("AWB Time %gs\n", watch.GetLastInterval());
            carry.m_adNeutral[0] = neutral.r;
            carry.m_adNeutral[1] = neutral.g;
            carry.m_adNeutral[2] = neutral.b;
            carry.m_bNeutralValid = 1;
        }
        p.m_V = {carry.m_adNeutral[0], carry.m_adNeutral[1], carry.m_adNeutral[2]};
    }
    carry.m_bValid = 1;
}

void Normalise(const FIPERequestStage2& request, FStage2Params& p)
{
    FDoubleRGB& V = p.m_V;
    // A neutral that cannot be inverted into gains leaves the colours as they are.
    const bool usable =
        std::isfinite(V.r) && std::isfinite(V.g) && std::isfinite(V.b) && V.r > 0.0 && V.g > 0.0 && V.b > 0.0;
    if (!usable)
        V = {1.0, 1.0, 1.0};
    const double m = std::max({V.r, V.g, V.b});
    V = Scaled(V, 1.0 / m);
    p.m_W = {1.0 / V.r, 1.0 / V.g, 1.0 / V.b};
    p.m_U = FColorMatrix::Multiply(p.m_U, Diagonal(V.r, V.g, V.b));
    V = {1.0, 1.0, 1.0};
    if (!p.m_bOlderModel && !p.m_bCL7) {
        const double a = p.m_bFIRDisabled || p.m_bMonochrome ? p.m_dReducedRatio : 1.0;
        FColorMatrix working;
        ComputeWorkingColorMatrix(working, p.m_U, V, a, 0.0);
        FColorMatrix output;
        ComputeOutputMatrix(output, request.m_iColorSpace, 0.0);
        p.m_U = FColorMatrix::Multiply(output, working);
    }
    const double gain = p.m_iIsoGain;
    p.m_Saturation = {static_cast<int32_t>(p.m_Saturation.r * p.m_W.r * gain),
                      static_cast<int32_t>(p.m_Saturation.g * p.m_W.g * gain),
                      static_cast<int32_t>(p.m_Saturation.b * p.m_W.b * gain)};
}

void Run(FIPERequestStage2& request, FStage2Params& p, int threads)
{
    ReadSensor(request, p);
    SelectMatrix(request, p);
    DarkGainsAndPost(request, p);
    SelectNeutral(request, p);
    ImageItems(request, p, threads);
    Normalise(request, p);
}

} // namespace Stage2Setup
