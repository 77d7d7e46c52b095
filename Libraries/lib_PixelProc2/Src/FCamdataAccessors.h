#pragma once

#include <cstdint>

#include "FColorMatrix.h"
#include "FIntRGB.h"
#include "FLUT.h"
#include "FRect.h"

class FCamdata;

// Typed getters over camera data. Each looks its name up with FCamdata::GetMatrix,
// demanding one element type and one shape; a missing name, a wrong type or a wrong shape
// count as absent, and each getter has a fixed answer for absence. None throws.

// A [rows][columns][3] float table in the camera data; the caller deletes the record.
struct FCamdataGainTable {
    float* m_pData = nullptr;
    int32_t m_iColumns = 0;
    int32_t m_iRows = 0;
};

// Arrays of one dimension of any length: the elements in the camera data, count written
// only when found.
uint8_t* GetCamdataByteArray(const char* name, const FCamdata& camdata, uint32_t& count);
uint32_t* GetCamdataUIntArray(const char* name, const FCamdata& camdata, uint32_t& count);
float* GetCamdataFloatArray(const char* name, const FCamdata& camdata, uint32_t& count);

// An int16 [3][n] matrix as three tables of n entries over the camera data (owns-data
// false, mask n - 1); the caller deletes the record. Null when absent.
FColorLUT* GetCamdataColorLUT(const char* name, const FCamdata& camdata);

// A float [3][3] matrix; all zeros when absent.
void GetCamdataColorMatrix(FColorMatrix& out, const char* name, const FCamdata& camdata);

// A float [rows][columns][3] table; the caller deletes the record. Null when absent.
FCamdataGainTable* GetCamdataGainTable(const char* name, const FCamdata& camdata);

// A float [3][9] matrix copied as 27 floats in stored order; zeros when absent.
void GetCamdataPolyMatrix(float out[27], const char* name, const FCamdata& camdata);

// Scalars of shape [1]; 0 when absent.
float GetCamdataFloat(const char* name, const FCamdata& camdata);
int32_t GetCamdataInt(const char* name, const FCamdata& camdata);
uint16_t GetCamdataUShort(const char* name, const FCamdata& camdata, bool* found = nullptr);
uint32_t GetCamdataUInt(const char* name, const FCamdata& camdata);

// Triples of shape [3].
void GetCamdataFloatRGB(FDoubleRGB& out, const char* name, const FCamdata& camdata);
void GetCamdataFloatRGBOr(FDoubleRGB& out, const char* name, const FCamdata& camdata,
                          const FDoubleRGB& defaultValue);
void GetCamdataShortRGB(FIntRGB& out, const char* name, const FCamdata& camdata);
void GetCamdataIntRGB(FIntRGB& out, const char* name, const FCamdata& camdata);

// An int32 [4] rectangle stored with inclusive right and bottom, returned exclusive.
void GetCamdataRect(FRect& out, const char* name, const FCamdata& camdata);

// A float [2][3][2] matrix f[set][channel][coefficient] as four triples: set 0 coef 0,
// set 0 coef 1, set 1 coef 0, set 1 coef 1 (twelve doubles). Zeros when absent.
void GetCamdataDriftCoefficients(double out[12], const char* name, const FCamdata& camdata);
