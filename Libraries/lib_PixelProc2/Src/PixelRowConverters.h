#pragma once

// Row converters of the pixel processing library into the display types (32-bit BGRA
// and ARGB) and the 48-bit types: each converts `count` pixels from the first pixel of
// the source row into consecutive destination pixels and touches nothing else. Channels
// are moved between widths by shifts (8 to 16 bits: << 8, 11 to 8: >> 3, 16 to 8: >> 8,
// signed sources arithmetically) and nothing is clamped. The alpha byte of a 32-bit source
// is never read; 32-bit destinations receive 255 there. The caller gives rows of at least
// `count` pixels.

// To 32-bit BGRA (id 13)
void ConvertRow24BGRTo32BGRA(unsigned count, const void* src, void* dst);
void ConvertRow24RGBTo32BGRA(unsigned count, const void* src, void* dst);
void ConvertRow30RGBLTo32BGRA(unsigned count, const void* src, void* dst);
void ConvertRow30BGRLTo32BGRA(unsigned count, const void* src, void* dst);
void ConvertRow30RGBTo32BGRA(unsigned count, const void* src, void* dst);
void ConvertRow32ARGBTo32BGRA(unsigned count, const void* src, void* dst);
void ConvertRow32ABGRTo32BGRA(unsigned count, const void* src, void* dst);
void ConvertRow32BGRATo32BGRA(unsigned count, const void* src, void* dst);
void ConvertRow32RGBATo32BGRA(unsigned count, const void* src, void* dst);
void ConvertRow48RGBTo32BGRA(unsigned count, const void* src, void* dst);
void ConvertRow48SRGBTo32BGRA(unsigned count, const void* src, void* dst);
void ConvertRow48BGRTo32BGRA(unsigned count, const void* src, void* dst);

// To 32-bit ARGB (id 11)
void ConvertRow48SRGBTo32ARGB(unsigned count, const void* src, void* dst);
void ConvertRow48BGRTo32ARGB(unsigned count, const void* src, void* dst);

// To 48-bit RGB (id 15); 24-bit RGB and 48-bit RGB sources use ConvertPixels24To48 and
// ConvertPixels48To48 of the file formats library.
void ConvertRow24BGRTo48RGB(unsigned count, const void* src, void* dst);
void ConvertRow30RGBLTo48RGB(unsigned count, const void* src, void* dst);
void ConvertRow30BGRLTo48RGB(unsigned count, const void* src, void* dst);
void ConvertRow30RGBTo48RGB(unsigned count, const void* src, void* dst);
void ConvertRow32ARGBTo48RGB(unsigned count, const void* src, void* dst);
void ConvertRow32ABGRTo48RGB(unsigned count, const void* src, void* dst);
void ConvertRow32BGRATo48RGB(unsigned count, const void* src, void* dst);
void ConvertRow32RGBATo48RGB(unsigned count, const void* src, void* dst);
void ConvertRow48SRGBTo48RGB(unsigned count, const void* src, void* dst);
void ConvertRow48BGRTo48RGB(unsigned count, const void* src, void* dst);

// To 48-bit BGR (id 17)
void ConvertRow24BGRTo48BGR(unsigned count, const void* src, void* dst);
void ConvertRow24RGBTo48BGR(unsigned count, const void* src, void* dst);
void ConvertRow30RGBLTo48BGR(unsigned count, const void* src, void* dst);
void ConvertRow30BGRLTo48BGR(unsigned count, const void* src, void* dst);
void ConvertRow30RGBTo48BGR(unsigned count, const void* src, void* dst);
void ConvertRow32ARGBTo48BGR(unsigned count, const void* src, void* dst);
void ConvertRow32ABGRTo48BGR(unsigned count, const void* src, void* dst);
void ConvertRow32BGRATo48BGR(unsigned count, const void* src, void* dst);
void ConvertRow32RGBATo48BGR(unsigned count, const void* src, void* dst);
void ConvertRow48RGBTo48BGR(unsigned count, const void* src, void* dst);
void ConvertRow48SRGBTo48BGR(unsigned count, const void* src, void* dst);
void ConvertRow48BGRTo48BGR(unsigned count, const void* src, void* dst);

using FRowConverter = void (*)(unsigned count, const void* src, void* dst);

// The converter from source id 6 to 17 into destination id 13, 15 or 17 (and 11 for
// sources 16 and 17); null for any other pair.
FRowConverter GetRowConverter(int sourceType, int destinationType);
