#include "FPngPixmap.h"

#include "FDebugTrace.h"
#include "FIStorageClass.h"
#include "FPixmap.h"

#include <png.h>

#include <csetjmp>
#include <new>

namespace
{

constexpr int kSignatureBytes = 4;

// Exceptions must not cross libpng's C frames: a failed read becomes a libpng error.
void PngReadCallback(png_structp png, png_bytep data, png_size_t length)
{
    auto* file = static_cast<FIFile*>(png_get_io_ptr(png));
    bool ok = false;
    try {
        ok = length <= size_t(INT32_MAX) &&
             file->Read(data, static_cast<int>(length)) == static_cast<int>(length);
    } catch (...) {
        ok = false;
    }
    if (!ok)
        png_error(png, "read failed");
}

void PngError(png_structp png, png_const_charp message)
{
    DebugTrace("PNG: %s\n", message);
    png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp message)
{
    DebugTrace("PNG warning: %s\n", message);
}

bool HasPngSignature(FIFile* file)
{
    png_byte signature[kSignatureBytes] = {};
    try {
        file->Seek(0);
        if (file->Read(signature, kSignatureBytes) != kSignatureBytes)
            return false;
    } catch (...) {
        return false;
    }
    return png_sig_cmp(signature, 0, kSignatureBytes) == 0;
}

// Everything the decoder allocates, so that the error path frees exactly what exists.
struct FDecodeState {
    png_structp png = nullptr;
    png_infop info = nullptr;
    png_bytep pixels = nullptr;
    png_bytepp rows = nullptr;
    int width = 0;
    int height = 0;
};

void ReleaseDecoder(FDecodeState& state)
{
    png_destroy_read_struct(&state.png, state.info != nullptr ? &state.info : nullptr, nullptr);
    delete[] state.rows;
    state.rows = nullptr;
}

// Reads the header, sets up the transformations and the pixel memory; false to refuse.
// Runs under the caller's error jump.
bool PrepareDecode(FDecodeState& state)
{
    png_structp png = state.png;
    png_infop info = state.info;
    png_read_info(png, info);
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int depth = 0;
    int colourType = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colourType, nullptr, nullptr, nullptr);
    if (width == 0 || height == 0 || width > png_uint_32(kMaxPngSide) || height > png_uint_32(kMaxPngSide) ||
        int64_t(width) * int64_t(height) > kMaxPngPixels)
        return false;

    png_set_strip_16(png);
    const bool grey = (colourType & PNG_COLOR_MASK_COLOR) == 0;
    if (colourType == PNG_COLOR_TYPE_PALETTE || (grey && depth < 8) ||
        png_get_valid(png, info, PNG_INFO_tRNS))
        png_set_expand(png);
    // Grey images need their grey level in all three channels.
    if (grey)
        png_set_gray_to_rgb(png);
    png_set_bgr(png);
    if (colourType != PNG_COLOR_TYPE_RGB_ALPHA)
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    // Every pixel must now be exactly four bytes; anything else is a combination the
    // transformations above do not cover.
    if (png_get_rowbytes(png, info) != size_t(width) * 4)
        return false;

    state.width = static_cast<int>(width);
    state.height = static_cast<int>(height);
    state.pixels = new (std::nothrow) png_byte[size_t(width) * size_t(height) * 4];
    state.rows = new (std::nothrow) png_bytep[height];
    if (state.pixels == nullptr || state.rows == nullptr)
        return false;
    for (png_uint_32 y = 0; y < height; ++y)
        state.rows[y] = state.pixels + size_t(y) * size_t(width) * 4;
    return true;
}

// Kept apart from any object with a destructor: the error jump lands here.
bool Decode(FDecodeState& state)
{
    if (setjmp(png_jmpbuf(state.png)) != 0)
        return false;
    if (!PrepareDecode(state))
        return false;
    png_read_image(state.png, state.rows);
    png_read_end(state.png, nullptr);
    return true;
}

} // namespace

FPixmap_Display* LoadPngPixmap(FIFile* file)
{
    if (file == nullptr)
        return nullptr;
    if (!HasPngSignature(file)) {
        file->Release();
        return nullptr;
    }
    FDecodeState state;
    state.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
    if (state.png != nullptr)
        state.info = png_create_info_struct(state.png);
    if (state.png == nullptr || state.info == nullptr) {
        ReleaseDecoder(state);
        file->Release();
        return nullptr;
    }
    png_set_read_fn(state.png, file, PngReadCallback);
    png_set_sig_bytes(state.png, kSignatureBytes);
    png_set_user_limits(state.png, kMaxPngSide, kMaxPngSide);
    const bool decoded = Decode(state);
    ReleaseDecoder(state);
    if (!decoded) {
        delete[] state.pixels;
        file->Release();
        return nullptr;
    }
    return new FPixmap_Display(state.pixels, state.width, state.height, state.width * 4);
}

void FreePngPixmap(FPixmap_Display*& holder)
{
    if (holder == nullptr)
        return;
    delete[] holder->GetBuffer();
    delete holder;
    holder = nullptr;
}

namespace
{

void PngWriteCallback(png_structp png, png_bytep data, png_size_t length)
{
    auto* file = static_cast<FIFile*>(png_get_io_ptr(png));
    bool ok = false;
    try {
        ok = length <= size_t(INT32_MAX);
        if (ok)
            file->Write(data, static_cast<int>(length));
    } catch (...) {
        ok = false;
    }
    if (!ok)
        png_error(png, "write failed");
}

void PngFlushCallback(png_structp png)
{
    try {
        static_cast<FIFile*>(png_get_io_ptr(png))->Flush();
    } catch (...) {
        png_error(png, "flush failed");
    }
}

bool Encode(png_structp png, png_infop info, const FPixmap_Display& pixmap)
{
    if (setjmp(png_jmpbuf(png)) != 0)
        return false;
    png_set_IHDR(png, info, png_uint_32(pixmap.GetCols()), png_uint_32(pixmap.GetRows()), 8,
                 PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png);
    for (int y = 0; y < pixmap.GetRows(); ++y)
        png_write_row(png, pixmap.GetRowAddress(y));
    png_write_end(png, nullptr);
    return true;
}

} // namespace

bool SavePngPixmap(const FPixmap_Display& pixmap, FIFile* file)
{
    if (file == nullptr || pixmap.GetBuffer() == nullptr || pixmap.GetCols() <= 0 || pixmap.GetRows() <= 0)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    bool ok = false;
    if (info != nullptr) {
        png_set_write_fn(png, file, PngWriteCallback, PngFlushCallback);
        ok = Encode(png, info, pixmap);
    }
    png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    return ok;
}
