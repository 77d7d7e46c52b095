#pragma once

#include <cstdint>

#include "FLUT.h"

class FPixmap;

// Stage 1 of development: raw and dark samples (three unsigned 16-bit channels, R G B)
// through the camera's linearisation table, dark subtracted, into signed 48-bit rows.

// Checks the three images (not null, same columns and rows); throws FExceptionPixelProc2.
// Touches no pixels; the table is not examined.
void LinearizeAndDarkSubtractImage(const FPixmap* dark, const FPixmap* raw, const FColorLUT* table,
                                   const FPixmap* out);

// Per column and channel: raw - dark, or table[raw & mask] - table[dark & mask] with a
// table; the low 16 bits of the 32-bit difference are stored, nothing is clamped.
void DarkSubtractRow(const uint16_t* darkRow, const uint16_t* rawRow, int cols, const FColorLUT* table,
                     int16_t* outRow);

// As DarkSubtractRow, with the column's signed offset added to both samples before the
// lookup (a sum below zero indexes the top of the table). Without a table the offset
// cancels out.
void DarkSubtractRowWithOffset(const uint16_t* darkRow, const uint16_t* rawRow, int cols,
                               const FColorLUT* table, int16_t* outRow, const int16_t* offsetRow);

// Fills one signed offset triple per column of `dark` (unsigned 48-bit samples) from the
// rows first, first + step, ... <= last: each column's trimmed sum (largest and smallest
// sample dropped) moved onto its neighbours' exponentially smoothed profile (shift, taken
// modulo 32), divided by the row count - 2. Returns false and writes nothing unless
// first <= last < rows, step >= 1 and at least three rows are selected.
bool CalculateRawOffsetRow(const FPixmap* dark, int16_t* offsetRow, uint32_t firstRow, uint32_t lastRow,
                           uint32_t rowStep, uint32_t filterShift);
