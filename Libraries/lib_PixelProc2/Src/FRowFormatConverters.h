#pragma once

// Row converters of the image file formats: each converts `count` pixels from
// the first pixel of the source row into the destination row, and touches
// nothing else. Names read source type "To" destination type.

void ConvertRow30RGBLTo24BGR(unsigned count, const void* src, void* dst);
void ConvertRow30RGBLTo24RGB(unsigned count, const void* src, void* dst);
void ConvertRow30RGBLTo30RGBL(unsigned count, const void* src, void* dst);
// The destination type 9 is not supported: any count but 0 throws
// FExceptionUnknownPixelType("NOT IMPLEMENTED").
void ConvertRowNotImplemented(unsigned count, const void* src, void* dst);
void ConvertRow30RGBLTo30RGB(unsigned count, const void* src, void* dst);
void ConvertRow30RGBLTo32ARGB(unsigned count, const void* src, void* dst);
void ConvertRow30RGBLTo32ABGR(unsigned count, const void* src, void* dst);
void ConvertRow30RGBLTo32RGBA(unsigned count, const void* src, void* dst);

void ConvertRow48RGBTo24BGR(unsigned count, const void* src, void* dst);
void ConvertRow48RGBTo24RGB(unsigned count, const void* src, void* dst);
void ConvertRow48RGBTo30RGBL(unsigned count, const void* src, void* dst);
void ConvertRow48RGBTo30RGB(unsigned count, const void* src, void* dst);
void ConvertRow48RGBTo32ARGB(unsigned count, const void* src, void* dst);
void ConvertRow48RGBTo32ABGR(unsigned count, const void* src, void* dst);
void ConvertRow48RGBTo32RGBA(unsigned count, const void* src, void* dst);

void ConvertPixels48To48(unsigned count, const void* src, void* dst);
void ConvertPixels24To48(unsigned count, const void* src, void* dst);

void ConvertRow30BGRLTo30RGBL(unsigned count, const void* src, void* dst);
void ConvertRow30RGBTo30RGBL(unsigned count, const void* src, void* dst);
void ConvertRow32ARGBTo30RGBL(unsigned count, const void* src, void* dst);
void ConvertRow32ABGRTo30RGBL(unsigned count, const void* src, void* dst);
void ConvertRow32BGRATo30RGBL(unsigned count, const void* src, void* dst);
void ConvertRow32RGBATo30RGBL(unsigned count, const void* src, void* dst);
void ConvertRow48SRGBTo30RGBL(unsigned count, const void* src, void* dst);
void ConvertRow48BGRTo30RGBL(unsigned count, const void* src, void* dst);

void ConvertRow8MonoTo16Mono(unsigned count, const void* src, void* dst);
void ConvertRow12MonoTo16Mono(unsigned count, const void* src, void* dst);
void ConvertRow16MonoTo16Mono(unsigned count, const void* src, void* dst);
void ConvertRow32MonoTo16Mono(unsigned count, const void* src, void* dst);
