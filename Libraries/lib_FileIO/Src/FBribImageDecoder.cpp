#include "FBribImageDecoder.h"
#include "FByteOrder.h"
#include "FCriticalSection.h"

#include "EmbeddedJPEG.h"
#include "FBribImageReader.h"
#include "FBribImageReaderImpl.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FHuffmanDecoder.h"
#include "FIStorageClass.h"
#include "FPixmap.h"
#include "FReadSignals.h"
#include "FWinThread.h"
#include "RunInRowBands.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <vector>

// ---------------------------------------------------------------------------
// Payload access

FBribPayload::FBribPayload(FIFile* file, uint64_t start, uint64_t size)
    : m_pFile(file), m_uiStart(start), m_uiSize(size)
{
}

FBribPayload::FBribPayload(const uint8_t* bytes, size_t size) : m_pBytes(bytes), m_uiSize(size) {}

void FBribPayload::Seek(uint64_t position)
{
    m_uiPosition = position;
}

void FBribPayload::Read(void* buffer, size_t n)
{
    if (m_uiPosition > m_uiSize || n > m_uiSize - m_uiPosition) {
        throw FExceptionEOF("image payload ends early");
    }
    if (n == 0) {
        return;
    }
    if (m_pBytes != nullptr) {
        std::memcpy(buffer, m_pBytes + m_uiPosition, n);
        m_uiPosition += n;
        return;
    }
    // The storage interface reads at most an int at a time.
    uint8_t* out = static_cast<uint8_t*>(buffer);
    m_pFile->Seek(m_uiStart + m_uiPosition);
    size_t left = n;
    while (left > 0) {
        const int chunk = int(std::min<size_t>(left, 1u << 30));
        m_pFile->Read(out, chunk);
        out += chunk;
        left -= size_t(chunk);
    }
    m_uiPosition += n;
}

size_t FBribPayload::ReadSome(void* buffer, size_t n)
{
    if (m_uiPosition >= m_uiSize) {
        return 0;
    }
    const size_t take = size_t(std::min<uint64_t>(n, m_uiSize - m_uiPosition));
    if (m_pBytes != nullptr) {
        std::memcpy(buffer, m_pBytes + m_uiPosition, take);
        m_uiPosition += take;
        return take;
    }
    m_pFile->Seek(m_uiStart + m_uiPosition);
    uint8_t* out = static_cast<uint8_t*>(buffer);
    size_t got = 0;
    while (got < take) {
        const int r = m_pFile->ReadSome(out + got, int(std::min<size_t>(take - got, 1u << 30)));
        if (r <= 0) {
            break;
        }
        got += size_t(r);
    }
    m_uiPosition += got;
    return got;
}

// ---------------------------------------------------------------------------
// Helpers

namespace
{

constexpr int kPackedGroupBytes = 12; // eight 12-bit samples in three words

// Eight samples from three little-endian words read as one 96-bit string, most
// significant bit of the first word first.
void Unpack12(const uint8_t* p, uint16_t* s)
{
    const uint32_t w0 = LoadLE32(p);
    const uint32_t w1 = LoadLE32(p + 4);
    const uint32_t w2 = LoadLE32(p + 8);
    s[0] = uint16_t(w0 >> 20);
    s[1] = uint16_t((w0 >> 8) & 0xFFF);
    s[2] = uint16_t(((w0 & 0xFF) << 4) | (w1 >> 28));
    s[3] = uint16_t((w1 >> 16) & 0xFFF);
    s[4] = uint16_t((w1 >> 4) & 0xFFF);
    s[5] = uint16_t(((w1 & 0xF) << 8) | (w2 >> 24));
    s[6] = uint16_t((w2 >> 12) & 0xFFF);
    s[7] = uint16_t(w2 & 0xFFF);
}

// The samples of `groups` packed groups of a plane.
void UnpackPlane(const uint8_t* plane, int groups, uint16_t* samples)
{
    for (int g = 0; g < groups; ++g) {
        Unpack12(plane + size_t(g) * kPackedGroupBytes, samples + size_t(g) * 8);
    }
}

void PutRGB(uint8_t* pixel, uint16_t r, uint16_t g, uint16_t b)
{
    StoreLE16(pixel, r);
    StoreLE16(pixel + 2, g);
    StoreLE16(pixel + 4, b);
}

int Clamp4095(double v)
{
    const double f = std::floor(v);
    if (f < 0) {
        return 0;
    }
    return f > 4095 ? 4095 : int(f);
}

void YCbCrToRGB(int y, int cb, int cr, int y0, int c0, uint8_t* pixel, bool eightBit)
{
    const double yy = y - y0;
    const double crr = cr - c0;
    const double cbb = cb - c0;
    int r = Clamp4095(1.1644 * yy + 1.596 * crr - 0.0001 * cbb);
    int g = Clamp4095(1.1644 * yy - 0.813 * crr - 0.3917 * cbb);
    int b = Clamp4095(1.1644 * yy + 2.0173 * cbb - 0.0001 * crr);
    if (eightBit) {
        r = std::min(r, 255) * 16;
        g = std::min(g, 255) * 16;
        b = std::min(b, 255) * 16;
    }
    PutRGB(pixel, uint16_t(r), uint16_t(g), uint16_t(b));
}

bool IsUnpackedFormat(int format)
{
    switch (format) {
    case 2:
    case 4:
    case 5:
    case 9:
    case 12:
    case 13:
    case 14:
    case 16:
    case 17:
    case 20:
    case 21:
    case 22:
    case 24:
    case 25:
    case 26:
    case 27:
    case 28:
        return true;
    }
    return false;
}

bool IsTwoRowFormat(int format)
{
    return format == 14 || format == 16 || format == 17 || format == 20 || format == 22 || format == 25;
}

// The bytes of a row that a format reads for `cols` columns, so that a row size too
// small for the columns is refused before any unpacking.
bool RowSizeFits(int format, int64_t cols, int64_t rowSize)
{
    const int64_t g8 = cols / 8;
    const int64_t g8up = (cols + 7) / 8;
    const int64_t g16 = (cols / 2 + 7) / 8;
    const int64_t g4up = (cols + 3) / 4;
    switch (format) {
    case 4:
    case 28:
        return rowSize >= 36 * g8;
    case 5:
        return rowSize >= 4 * cols;
    case 9:
        return rowSize >= 12 * g8;
    case 12:
        return rowSize / 3 >= 2 * cols;
    case 13:
    case 24:
        return rowSize / 3 >= 12 * g8;
    case 14:
        return rowSize / 6 >= 2 * cols;
    case 16:
        return rowSize / 6 >= 12 * g8up;
    case 17:
        return rowSize / 4 >= 12 * g8;
    case 20:
        return rowSize / 3 >= 24 * g16 && rowSize / 6 >= 12 * g16;
    case 21:
        return rowSize / 2 >= 24 * g16 && rowSize / 4 >= 12 * g16;
    case 22:
        return rowSize / 4 >= 12 * g8up;
    case 25:
        return rowSize >= 36 * g4up;
    case 26:
        return rowSize >= 4 * ((cols + 1) / 2);
    case 27:
        return rowSize >= 12 * g4up;
    }
    return true;
}

void StoreProgress(double* progress, double value)
{
    StoreReadProgress(progress, value);
}

bool Cancelled(const char* cancel)
{
    return ReadCancelled(cancel);
}

// Unpacks one fixed-size row of an unpacked format into pixmap row `y` (and y + 1
// for the formats that make two rows). Only `cols` columns are written: groups that
// run past them are unpacked into scratch samples first.
class FixedRowUnpacker
{
public:
    FixedRowUnpacker(int format, int cols, int rowSize)
        : m_iFormat(format), m_iCols(cols), m_iRowSize(rowSize)
    {
        // Room for the samples that `cols` columns read from one plane, whole groups
        // included (six per column at most); the row size may be far larger.
        const size_t planeSamples = size_t(cols) * 6 + 32;
        for (auto& s : m_samples) {
            s.assign(planeSamples, 0);
        }
    }

    int16_t m_table[1024] = {};

    void Unpack(const uint8_t* row, FPixmap& pm, int y)
    {
        const int cols = m_iCols;
        const int rs = m_iRowSize;
        uint8_t* out = pm.GetRowAddress(y);
        switch (m_iFormat) {
        case 4: {
            const int groups = cols / 8;
            UnpackPlane(row, groups * 3, m_samples[0].data());
            const uint16_t* s = m_samples[0].data();
            for (int x = 0; x < groups * 8; ++x) {
                PutRGB(out + 6 * x, s[3 * x], s[3 * x + 1], s[3 * x + 2]);
            }
            return;
        }
        case 5: {
            int16_t sum[3] = {0, 0, 0};
            for (int x = 0; x < cols; ++x) {
                const uint32_t code = LoadLE32(row + 4 * x);
                sum[0] = int16_t(uint16_t(sum[0] + m_table[(code >> 20) & 0x3FF]));
                sum[1] = int16_t(uint16_t(sum[1] + m_table[(code >> 10) & 0x3FF]));
                sum[2] = int16_t(uint16_t(sum[2] + m_table[code & 0x3FF]));
                PutRGB(out + 6 * x, uint16_t(sum[0]), uint16_t(sum[1]), uint16_t(sum[2]));
            }
            return;
        }
        case 9: {
            const int groups = cols / 8;
            UnpackPlane(row, groups, m_samples[0].data());
            for (int x = 0; x < groups * 8; ++x) {
                StoreLE16(out + 2 * x, m_samples[0][x]);
            }
            return;
        }
        case 12: {
            const int p = rs / 3;
            for (int x = 0; x < cols; ++x) {
                PutRGB(out + 6 * x, LoadLE16(row + 2 * x), LoadLE16(row + p + 2 * x),
                       LoadLE16(row + 2 * p + 2 * x));
            }
            return;
        }
        case 13:
        case 24: {
            const int p = rs / 3;
            const int groups = cols / 8;
            for (int k = 0; k < 3; ++k) {
                UnpackPlane(row + k * p, groups, m_samples[k].data());
            }
            // Format 24 stores its planes as G, B, R.
            const int ri = m_iFormat == 13 ? 0 : 2;
            const int gi = m_iFormat == 13 ? 1 : 0;
            const int bi = m_iFormat == 13 ? 2 : 1;
            for (int x = 0; x < groups * 8; ++x) {
                PutRGB(out + 6 * x, m_samples[ri][x], m_samples[gi][x], m_samples[bi][x]);
            }
            return;
        }
        case 14:
        case 16: {
            const int p = rs / 6;
            if (m_iFormat == 14) {
                for (int k = 0; k < 6; ++k) {
                    for (int x = 0; x < cols; ++x) {
                        m_samples[k][x] = LoadLE16(row + k * p + 2 * x);
                    }
                }
            } else {
                for (int k = 0; k < 6; ++k) {
                    UnpackPlane(row + k * p, (cols + 7) / 8, m_samples[k].data());
                }
            }
            uint8_t* out1 = pm.GetRowAddress(y + 1);
            for (int x = 0; x < cols; ++x) {
                const uint16_t r = m_samples[5][x];
                const uint16_t b = m_samples[4][x];
                PutRGB(out + 12 * x, r, m_samples[0][x], b);
                PutRGB(out + 12 * x + 6, r, m_samples[1][x], b);
                PutRGB(out1 + 12 * x, r, m_samples[2][x], b);
                PutRGB(out1 + 12 * x + 6, r, m_samples[3][x], b);
            }
            return;
        }
        case 17: {
            const int p = rs / 4;
            const int groups = cols / 8;
            for (int k = 0; k < 4; ++k) {
                UnpackPlane(row + k * p, groups, m_samples[k].data());
            }
            uint8_t* out1 = pm.GetRowAddress(y + 1);
            for (int x = 0; x < groups * 8; ++x) {
                StoreLE16(out + 4 * x, m_samples[0][x]);
                StoreLE16(out + 4 * x + 2, m_samples[1][x]);
                StoreLE16(out1 + 4 * x, m_samples[2][x]);
                StoreLE16(out1 + 4 * x + 2, m_samples[3][x]);
            }
            return;
        }
        case 20:
        case 21:
        case 22: {
            const int groups = m_iFormat == 22 ? (cols + 7) / 8 : (cols / 2 + 7) / 8;
            const int width = std::min(cols, groups * (m_iFormat == 22 ? 8 : 16));
            const bool half = m_iFormat != 22;
            if (m_iFormat == 20) {
                const int p3 = rs / 3;
                const int p6 = rs / 6;
                UnpackPlane(row, groups * 2, m_samples[0].data());
                UnpackPlane(row + p3, groups * 2, m_samples[1].data());
                UnpackPlane(row + 2 * p3, groups, m_samples[2].data());
                UnpackPlane(row + 2 * p3 + p6, groups, m_samples[3].data());
            } else if (m_iFormat == 21) {
                UnpackPlane(row, groups * 2, m_samples[0].data());
                UnpackPlane(row + rs / 2, groups, m_samples[2].data());
                UnpackPlane(row + rs / 2 + rs / 4, groups, m_samples[3].data());
            } else {
                const int p = rs / 4;
                for (int k = 0; k < 4; ++k) {
                    UnpackPlane(row + k * p, groups, m_samples[k].data());
                }
            }
            const bool twoRows = m_iFormat != 21;
            uint8_t* out1 = twoRows ? pm.GetRowAddress(y + 1) : nullptr;
            for (int x = 0; x < width; ++x) {
                const int c = half ? x / 2 : x;
                const uint16_t r = m_samples[3][c];
                const uint16_t b = m_samples[2][c];
                PutRGB(out + 6 * x, r, m_samples[0][x], b);
                if (twoRows) {
                    PutRGB(out1 + 6 * x, r, m_samples[1][x], b);
                }
            }
            return;
        }
        case 25: {
            const int groups = (cols + 3) / 4;
            UnpackPlane(row, groups * 3, m_samples[0].data());
            const uint16_t* s = m_samples[0].data();
            uint8_t* out1 = pm.GetRowAddress(y + 1);
            for (int k = 0; k < cols; ++k) {
                const uint16_t* c = s + 6 * k;
                YCbCrToRGB(c[0], c[4], c[5], 256, 2048, out + 12 * k, false);
                YCbCrToRGB(c[1], c[4], c[5], 256, 2048, out + 12 * k + 6, false);
                YCbCrToRGB(c[2], c[4], c[5], 256, 2048, out1 + 12 * k, false);
                YCbCrToRGB(c[3], c[4], c[5], 256, 2048, out1 + 12 * k + 6, false);
            }
            return;
        }
        case 26: {
            for (int x = 0; x < cols; ++x) {
                const uint8_t* c = row + 4 * (x / 2);
                YCbCrToRGB(c[(x & 1) * 2], c[1], c[3], 16, 128, out + 6 * x, true);
            }
            return;
        }
        case 27: {
            const int groups = (cols + 3) / 4;
            UnpackPlane(row, groups, m_samples[0].data());
            const uint16_t* s = m_samples[0].data();
            for (int x = 0; x < cols; ++x) {
                const uint16_t* c = s + 8 * (x / 4) + 4 * ((x / 2) & 1);
                YCbCrToRGB(c[(x & 1) * 2], c[1], c[3], 256, 2048, out + 6 * x, false);
            }
            return;
        }
        case 28: {
            const int groups = cols / 8;
            UnpackPlane(row, groups * 3, m_samples[0].data());
            const uint16_t* s = m_samples[0].data();
            for (int x = 0; x < groups * 8; ++x) {
                YCbCrToRGB(s[3 * x], s[3 * x + 2], s[3 * x + 1], 256, 2048, out + 6 * x, false);
            }
            return;
        }
        }
        throw FExceptionBribReader("ReadImageFixedLineLength() : unsupported resampling pixel type.");
    }

private:
    int m_iFormat;
    int m_iCols;
    int m_iRowSize;
    std::vector<uint16_t> m_samples[6];
};

} // namespace

// ---------------------------------------------------------------------------
// Decoders

bool FBribImageDecoder::Decode(FBribPayload& payload, const BribImageHead& head, FPixmap& pixmap,
                               double* progress, const char* cancel, int threads, int reduction)
{
    const int format = head.m_iPixelFormat;
    if (head.m_iCols < 0 || head.m_iRows < 0 || uint32_t(head.m_iCols) > kMaxBribImageDimension ||
        uint32_t(head.m_iRows) > kMaxBribImageDimension || head.m_iRowSize < 0) {
        throw FExceptionBribReader("GetImage() : image dimensions out of range");
    }
    int dims[2] = {0, 0};
    FBribImageReaderImpl::priGetDeliveredDimensions(format, head.m_iCols, head.m_iRows, dims);
    reduction = format == kBribPixelJPEG ? std::clamp(reduction, 0, 3) : 0;
    dims[0] = ReducedJPEGSide(dims[0], reduction);
    dims[1] = ReducedJPEGSide(dims[1], reduction);
    const int64_t rowBytes = int64_t(dims[0]) * GetPixelTypeBytesPerPixel(pixmap.GetPixelType());
    if (pixmap.GetCols() < dims[0] || pixmap.GetRows() < dims[1] || int64_t(pixmap.GetStride()) < rowBytes) {
        throw FExceptionBribReader("GetImage() : pixmap too small to receive image");
    }
    const int type = FBribImageReaderImpl::priGetPixmapType(format);
    if (type == 0 || type != pixmap.GetPixelType()) {
        throw FExceptionBribReader("GetImage() : pixmap has incompatible pixel type");
    }
    if (format == kBribPixelJPEG) {
        return DecodeEmbeddedJPEG(payload, pixmap, reduction, cancel);
    }
    if (format == kBribPixelHuffmanM4) {
        return priReadImageHuffmanM4(payload, head, pixmap, progress, cancel, threads);
    }
    if (head.m_iRowSize != 0) {
        return ReadImageFixedLineLength(payload, head, pixmap, progress, cancel);
    }
    return ReadImageVariableLineLength(payload, head, pixmap, progress, cancel, threads);
}

namespace
{

// Bytes of stored rows read at once.
constexpr uint64_t kFixedRowBatchBytes = uint64_t(4) << 20;

} // namespace

bool FBribImageDecoder::ReadImageFixedLineLength(FBribPayload& payload, const BribImageHead& head,
                                                 FPixmap& pixmap, double* progress, const char* cancel)
{
    const int format = head.m_iPixelFormat;
    const int rows = head.m_iRows;
    const int cols = head.m_iCols;
    const int rowSize = head.m_iRowSize;
    const bool unpacked = IsUnpackedFormat(format);
    if (!unpacked && int64_t(pixmap.GetStride()) < rowSize) {
        throw FExceptionBribReader("ReadImageFixedLineLength() : pixmap's rows are too small for brib rows");
    }
    if (rows == 0) {
        return true;
    }
    // A row size the payload cannot hold must not size the row buffer.
    const uint64_t tableBytes = format == 5 ? 2048 : 0;
    if (uint64_t(rowSize) > payload.GetSize()) {
        throw FExceptionEOF("image payload ends early");
    }
    if (unpacked && format != 2 && !RowSizeFits(format, cols, rowSize)) {
        throw FExceptionBribReader(
            "ReadImageFixedLineLength() : brib rows are too small for the image's columns");
    }

    std::unique_ptr<FixedRowUnpacker> unpacker;
    std::vector<uint8_t> rowBuffer;
    if (unpacked) {
        unpacker = std::make_unique<FixedRowUnpacker>(format, cols, rowSize);
        rowBuffer.resize(size_t(rowSize) + 16);
    }
    if (format == 5) {
        uint8_t table[2048];
        payload.Read(table, tableBytes);
        for (int i = 0; i < 1024; ++i) {
            unpacker->m_table[i] = int16_t(LoadLE16(table + 2 * i));
        }
    }
    // Rows stored as they lie in the pixmap, back to back, are read many at a time: one
    // read per row cost a system call per 16 KiB. Only when the payload holds them all,
    // so that a short payload still fills the rows it has before it throws.
    const int64_t stride = rows > 1 ? int64_t(pixmap.GetRowAddress(1) - pixmap.GetRowAddress(0)) : rowSize;
    if (!unpacked && stride == rowSize && payload.Tell() <= payload.GetSize() &&
        uint64_t(rows) * uint64_t(rowSize) <= payload.GetSize() - payload.Tell()) {
        const int batch = std::max(1, int(kFixedRowBatchBytes / uint64_t(rowSize)));
        for (int i = 0; i < rows; i += batch) {
            const int n = std::min(batch, rows - i);
            payload.Read(pixmap.GetRowAddress(i), size_t(n) * size_t(rowSize));
            StoreProgress(progress, double(i + n - 1) / rows);
            if (Cancelled(cancel)) {
                return false;
            }
        }
        return true;
    }
    const int step = IsTwoRowFormat(format) ? 2 : 1;
    for (int i = 0; i < rows; ++i) {
        if (!unpacked) {
            payload.Read(pixmap.GetRowAddress(i), size_t(rowSize));
        } else {
            payload.Read(rowBuffer.data(), size_t(rowSize));
            unpacker->Unpack(rowBuffer.data(), pixmap, i * step);
        }
        StoreProgress(progress, double(i) / rows);
        if (Cancelled(cancel)) {
            return false;
        }
    }
    return true;
}

namespace
{

bool DecodeHuffmanRow(FHuffmanDecoder& decoder, const uint8_t* bytes, int length, uint16_t* symbols,
                      int wanted)
{
    int inUsed = 0;
    int produced = 0;
    decoder.Decode(bytes, length, inUsed, symbols, wanted, produced);
    if (produced < wanted) {
        if (wanted - produced >= 32) {
            DebugTrace("Found 32 or more bits left over in Huffman Decode %d %d\n", produced, wanted);
        }
        int more = 0;
        decoder.Decode(nullptr, 0, inUsed, symbols + produced, wanted - produced, more);
        produced += more;
    }
    decoder.DecodeFlush();
    // A short row would otherwise take the previous row's symbols as its own.
    return produced == wanted;
}

void CheckRowAssertion(bool ok, const char* test)
{
    if (!ok) {
        ReportAssertion(__FILE__, __LINE__, test, 0, 0);
    }
}

} // namespace

namespace
{

// Rows of Huffman data read and decoded at a time when the payload is a file; a
// payload in memory is decoded in one go.
constexpr uint32_t kHuffmanChunkBytes = 8u << 20;
// Rows a worker takes at once.
constexpr int kHuffmanRowBatch = 8;

int ThreadsFor(int threads)
{
    return threads > 0 ? threads : GetProcessorCount();
}

// Running sums of one row's symbols: through the value table into 16-bit samples
// (format 6), or as bytes (format 11), wrapping.
void WriteHuffmanRow(int format, const uint16_t* symbols, const int16_t* values, int cols, uint8_t* out)
{
    if (format == 6) {
        uint16_t r = 0;
        uint16_t g = 0;
        uint16_t b = 0;
        for (int x = 0; x < cols; ++x, symbols += 3, out += 6) {
            r = uint16_t(r + values[symbols[0]]);
            g = uint16_t(g + values[symbols[1]]);
            b = uint16_t(b + values[symbols[2]]);
            StoreLE16(out, r);
            StoreLE16(out + 2, g);
            StoreLE16(out + 4, b);
        }
        return;
    }
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    for (int x = 0; x < cols; ++x, symbols += 3, out += 3) {
        r = uint8_t(r + symbols[0]);
        g = uint8_t(g + symbols[1]);
        b = uint8_t(b + symbols[2]);
        out[0] = r;
        out[1] = g;
        out[2] = b;
    }
}

} // namespace

// Rows are independent (each starts with no bits held), so they are decoded on several
// threads by the decoder's whole-block path. A row that path does not take, and every
// row's checks, messages and repeat of the row above, then run in row order through
// the byte-wise decoder, exactly as when each row is decoded alone.
bool FBribImageDecoder::ReadImageVariableLineLength(FBribPayload& payload, const BribImageHead& head,
                                                    FPixmap& pixmap, double* progress, const char* cancel,
                                                    int threads)
{
    const int format = head.m_iPixelFormat;
    if (format != 6 && format != 11) {
        throw FExceptionBribReader(
            "ReadImageVariableLineLength: variable line length image type is not HUFFMAN!");
    }
    const int rows = head.m_iRows;
    const int cols = head.m_iCols;
    const int symbolBits = format == 6 ? 10 : 8;
    const int64_t n = int64_t(1) << symbolBits;
    const int64_t valueTableBytes = format == 6 ? 2 * n : 0;
    const int64_t huffTableBytes = 4 * n;
    const int64_t size = int64_t(payload.GetSize());
    const int64_t sizeHuffData = size - 4 * int64_t(rows) - huffTableBytes - valueTableBytes;
    if (sizeHuffData < 0) {
        throw FExceptionBribReader("ReadImageVariableLineLength: payload too small for its tables");
    }
    CheckRowAssertion((sizeHuffData & 3) == 0, "(uiSizeHuffData&3) == 0");

    // Row starts, plus the end of the data; they must not decrease or pass the end,
    // so that the largest gap is a sound row buffer size.
    std::vector<uint32_t> rowPtr(size_t(rows) + 1);
    {
        std::vector<uint8_t> raw(size_t(rows) * 4);
        payload.Seek(uint64_t(size - 4 * int64_t(rows)));
        payload.Read(raw.data(), raw.size());
        for (int r = 0; r < rows; ++r) {
            rowPtr[r] = LoadLE32(raw.data() + 4 * r);
        }
        rowPtr[rows] = uint32_t(sizeHuffData);
    }
    uint32_t largest = 0;
    uint32_t previous = 0;
    for (int r = 0; r <= rows; ++r) {
        if (rowPtr[r] < previous || int64_t(rowPtr[r]) > sizeHuffData) {
            throw FExceptionBribReader("ReadImageVariableLineLength: row pointer table out of order");
        }
        largest = std::max(largest, rowPtr[r] - previous);
        previous = rowPtr[r];
    }
    // Rows are read one after the other from the data's start, so the reading position
    // matches every row's pointer only when the first is 0.
    int checkedRows = 0;
    while (checkedRows < rows && rowPtr[0] == 0 &&
           ((rowPtr[checkedRows + 1] - rowPtr[checkedRows]) & 3) == 0) {
        ++checkedRows;
    }

    payload.Seek(0);
    std::vector<int16_t> values(static_cast<size_t>(n), 0);
    if (format == 6) {
        std::vector<uint8_t> raw(static_cast<size_t>(valueTableBytes));
        payload.Read(raw.data(), raw.size());
        for (int64_t i = 0; i < n; ++i) {
            values[i] = int16_t(LoadLE16(raw.data() + 2 * i));
        }
    }
    std::vector<uint32_t> words(static_cast<size_t>(n));
    {
        std::vector<uint8_t> raw(static_cast<size_t>(huffTableBytes));
        payload.Read(raw.data(), raw.size());
        for (int64_t i = 0; i < n; ++i) {
            words[i] = LoadLE32(raw.data() + 4 * i);
        }
    }
    FHuffmanDecoder decoder(symbolBits);
    decoder.Reset();
    decoder.SetTable(words.data(), int(n));
    bool fastPath = true;
    try {
        decoder.Prepare();
    } catch (const FExceptionHuffman&) {
        fastPath = false; // each row then fails as the byte-wise decoder decides
    }

    const int wanted = 3 * cols;
    const uint64_t huffStart = payload.Tell();
    const int pixelBytes = format == 6 ? 6 : 3;
    const int workers = std::max(1, std::min(ThreadsFor(threads), checkedRows));
    std::vector<std::vector<uint16_t>> symbols(size_t(workers),
                                               std::vector<uint16_t>(2 * (size_t(wanted) + 1)));
    std::vector<uint8_t> decodedFast(size_t(rows), 0);
    const uint8_t* inMemory = payload.GetBytes();
    std::vector<uint8_t> chunkBuffer;

    for (int first = 0; first < rows;) {
        // A cancel already asked for still lets the next row through, as after any row.
        int end = first + 1;
        if (first < checkedRows && !Cancelled(cancel)) {
            const uint32_t cap = inMemory != nullptr ? UINT32_MAX : kHuffmanChunkBytes;
            while (end < checkedRows && rowPtr[end + 1] - rowPtr[first] <= cap) {
                ++end;
            }
        }
        const uint8_t* data = nullptr; // the bytes of row `first` on
        if (inMemory != nullptr) {
            data = inMemory + huffStart + rowPtr[first];
        } else if (first < checkedRows) {
            chunkBuffer.resize(std::max<size_t>(chunkBuffer.size(), rowPtr[end] - rowPtr[first]));
            payload.Seek(huffStart + rowPtr[first]);
            payload.Read(chunkBuffer.data(), rowPtr[end] - rowPtr[first]);
            data = chunkBuffer.data();
        }
        const int chunkEnd = std::min(end, checkedRows);
        if (fastPath && first < chunkEnd) {
            std::atomic<int> next{first};
            const int chunkWorkers = std::min(workers, chunkEnd - first);
            RunInRowBands(chunkWorkers, chunkWorkers, [&](int worker, int) {
                // Two rows at a time, their streams interleaved.
                uint16_t* const sym[2] = {symbols[size_t(worker)].data(),
                                          symbols[size_t(worker)].data() + wanted + 1};
                for (;;) {
                    const int batch = next.fetch_add(kHuffmanRowBatch);
                    if (batch >= chunkEnd) {
                        return;
                    }
                    const int batchEnd = std::min(batch + kHuffmanRowBatch, chunkEnd);
                    for (int r = batch; r < batchEnd; r += 2) {
                        const int pair = std::min(2, batchEnd - r);
                        const uint8_t* in[2] = {data + (rowPtr[r] - rowPtr[first]), nullptr};
                        int inLen[2] = {int(rowPtr[r + 1] - rowPtr[r]), 0};
                        if (pair == 2) {
                            in[1] = data + (rowPtr[r + 1] - rowPtr[first]);
                            inLen[1] = int(rowPtr[r + 2] - rowPtr[r + 1]);
                        }
                        bool decoded[2] = {false, false};
                        decoder.DecodeWholeBlocks(in, inLen, sym, wanted, decoded);
                        for (int k = 0; k < pair; ++k) {
                            if (decoded[k]) {
                                WriteHuffmanRow(format, sym[k], values.data(), cols,
                                                pixmap.GetRowAddress(r + k));
                                decodedFast[size_t(r + k)] = 1;
                            }
                        }
                    }
                }
            });
        }
        for (int r = first; r < end; ++r) {
            CheckRowAssertion(rowPtr[0] == 0, "(uiFilePosNow-uiFilePosHuffDat) == pRowPtrTable[row]");
            const uint32_t readSize = rowPtr[r + 1] - rowPtr[r];
            CheckRowAssertion((readSize & 3) == 0, "(uiReadSize&3) == 0");
            if (!decodedFast[size_t(r)]) {
                bool decoded = false;
                try {
                    decoded = DecodeHuffmanRow(decoder, data + (rowPtr[r] - rowPtr[first]), int(readSize),
                                               symbols[0].data(), wanted);
                } catch (const FExceptionHuffman&) {
                    decoded = false;
                }
                uint8_t* out = pixmap.GetRowAddress(r);
                if (decoded) {
                    WriteHuffmanRow(format, symbols[0].data(), values.data(), cols, out);
                } else {
                    // The register is left as after every row, so the next row starts clean.
                    try {
                        decoder.DecodeFlush();
                    } catch (const FExceptionHuffman&) {
                    }
                    if (r > 0) {
                        std::memmove(out, pixmap.GetRowAddress(r - 1), size_t(cols) * pixelBytes);
                    }
                }
            }
            StoreProgress(progress, double(r) / rows);
            if (Cancelled(cancel)) {
                return false;
            }
        }
        first = end;
    }
    return true;
}

namespace
{

constexpr size_t kM4ReadWindow = kBribM4Window;

// The bit stream of one M4 plane: the payload from the plane's start on, zeros past the
// payload's end, read through a window that moves along. Windows of several planes may
// be filled at once; `lock` keeps their reads of the one payload apart.
class M4PlaneBits
{
public:
    M4PlaneBits(FBribPayload& payload, uint64_t start, FCriticalSection& lock)
        : m_payload(payload), m_lock(lock), m_window(kM4ReadWindow + 8, 0), m_uiBase(start)
    {
        // Codes that end past the payload end the plane.
        m_iLimitBits = (int64_t(payload.GetSize()) - int64_t(start)) * 8;
        Fill();
    }

    const uint8_t* Window() const { return m_window.data(); }
    // Moves the window to the byte of `bit` (counted from the window's start, which it
    // returns counted from the new start), so that at least 8 bytes from it are held.
    uint64_t Slide(uint64_t bit)
    {
        m_uiBase += bit >> 3;
        m_iLimitBits -= int64_t(bit & ~uint64_t(7));
        Fill();
        return bit & 7;
    }
    int64_t LimitBits() const { return m_iLimitBits; }

private:
    void Fill()
    {
        size_t valid = 0;
        if (m_uiBase < m_payload.GetSize()) {
            FCriticalSectionLock hold(m_lock);
            m_payload.Seek(m_uiBase);
            valid = m_payload.ReadSome(m_window.data(), kM4ReadWindow);
        }
        std::fill(m_window.begin() + long(valid), m_window.end(), uint8_t(0));
    }

    FBribPayload& m_payload;
    FCriticalSection& m_lock;
    std::vector<uint8_t> m_window;
    uint64_t m_uiBase;        // payload position of the window's first byte
    int64_t m_iLimitBits = 0; // the payload's end, in bits from the window's start
};

struct M4Codes {
    int m_first[3];
    // For every 12-bit prefix, the first code word, in order, that it matches: its
    // category in bits 0-3 and its length in bits 4-7; kM4NoCode when a word of length 0
    // or above 12 ends the search first.
    uint8_t m_code[4096];
};
constexpr uint8_t kM4NoCode = 0xFF; // category 15 does not exist

// One plane, row by row, into channel c; it ends at the first value that goes wrong and
// leaves the rest of the plane as it was. Returns false when cancelled at a row end.
// `progress` (may be null) gets the rows done; `stored` tells whether it got any.
bool DecodeM4Plane(M4PlaneBits& bits, const M4Codes& codes, int c, FPixmap& pixmap, int rows, int cols,
                   double* progress, bool& stored, const char* cancel)
{
    const uint8_t* table = codes.m_code;
    const uint8_t* window = bits.Window();
    int64_t limit = bits.LimitBits();
    // The stream's next bits at the top of `held`, below them only zeros or the stream's
    // own next bits; `next` is the first window byte not yet counted into `held`.
    uint64_t held = 0;
    int heldBits = 0;
    size_t next = 0;
    auto refill = [&]() {
        if (next > kM4ReadWindow - 8) {
            const uint64_t inByte = bits.Slide(8 * uint64_t(next) - uint64_t(heldBits));
            limit = bits.LimitBits();
            held = LoadBE64(window) << inByte;
            heldBits = 64 - int(inByte);
            next = 8;
            return;
        }
        held |= LoadBE64(window + next) >> heldBits;
        next += size_t(63 - heldBits) >> 3;
        heldBits |= 56;
    };
    for (int m = 0; m < rows; ++m) {
        uint8_t* row = pixmap.GetRowAddress(m) + 2 * c;
        const uint8_t* above = m >= 2 ? pixmap.GetRowAddress(m - 2) + 2 * c : nullptr;
        int back2 = 0; // the values two and one columns back
        int back1 = 0;
        for (int j = 0; j < cols; ++j) {
            if (heldBits < 32) {
                refill();
            }
            const uint32_t code = uint32_t(held >> 32);
            const int entry = table[code >> 20];
            if (entry == kM4NoCode) {
                return true;
            }
            const int category = entry & 15;
            const int len = entry >> 4;
            // The category's bits after the code word: the value itself when its top bit
            // is set, else the negative value below; category 0 gives 0.
            const int v = int((uint64_t(code << len) << category) >> 32);
            const int d = v >= ((1 << category) >> 1) ? v : v - (1 << category) + 1;
            const int prediction = j >= 2             ? back2
                                   : above != nullptr ? int(int16_t(LoadLE16(above + 6 * j)))
                                                      : codes.m_first[c];
            const int value = prediction + d;
            held <<= len + category;
            heldBits -= len + category;
            if (uint32_t(value) > 4095 || int64_t(8 * next) - heldBits > limit) {
                return true;
            }
            StoreLE16(row + 6 * j, uint16_t(value));
            back2 = back1;
            back1 = value;
        }
        StoreProgress(progress, double(m + 1) / rows);
        stored = true;
        if (Cancelled(cancel)) {
            return false;
        }
    }
    return true;
}

} // namespace

bool FBribImageDecoder::priReadImageHuffmanM4(FBribPayload& payload, const BribImageHead& head,
                                              FPixmap& pixmap, double* progress, const char* cancel,
                                              int threads)
{
    const int rows = head.m_iRows;
    const int cols = head.m_iCols;
    uint8_t raw[kBribM4HeadSize];
    payload.Seek(0);
    payload.Read(raw, sizeof(raw));
    M4Codes codes{};
    for (int c = 0; c < 3; ++c) {
        codes.m_first[c] = LoadLE16(raw + 2 * c) & 0x3FF;
    }
    int codeBits[13];
    int codeLength[13];
    for (int i = 0; i < 13; ++i) {
        const uint16_t w = LoadLE16(raw + 8 + 2 * i);
        codeLength[i] = w & 0xF;
        codeBits[i] = w >> 4;
    }
    for (uint32_t prefix = 0; prefix < 4096; ++prefix) {
        codes.m_code[prefix] = kM4NoCode;
        for (int i = 0; i < 13; ++i) {
            const int len = codeLength[i];
            if (len == 0 || len > 12) {
                break;
            }
            if ((prefix >> (12 - len)) == uint32_t(codeBits[i] >> (12 - len))) {
                codes.m_code[prefix] = uint8_t(i | len << 4);
                break;
            }
        }
    }
    const uint64_t lengths[3] = {LoadLE32(raw + 36), LoadLE32(raw + 40), LoadLE32(raw + 44)};
    auto pad16 = [](uint64_t v) { return (v + 15) / 16 * 16; };
    const uint64_t planeStart[3] = {kBribM4HeadSize, kBribM4HeadSize + pad16(lengths[0]),
                                    kBribM4HeadSize + pad16(lengths[0]) + pad16(lengths[1])};

    // The planes are independent streams into separate channels, so they run at once;
    // only then does each keep its own progress, and the last plane's stands at the end.
    const int workers = std::clamp(ThreadsFor(threads), 1, 3);
    FCriticalSection lock;
    std::vector<std::unique_ptr<M4PlaneBits>> planes;
    for (int c = 0; c < 3; ++c) {
        planes.push_back(std::make_unique<M4PlaneBits>(payload, planeStart[c], lock));
    }
    double planeProgress[3] = {0, 0, 0};
    bool stored[3] = {false, false, false};
    bool finished[3] = {true, true, true};
    std::exception_ptr failure[3];
    RunInRowBands(3, workers, [&](int first, int end) {
        for (int c = first; c < end; ++c) {
            try {
                finished[c] = DecodeM4Plane(*planes[c], codes, c, pixmap, rows, cols,
                                            workers == 1 ? progress : &planeProgress[c], stored[c], cancel);
            } catch (...) {
                failure[c] = std::current_exception();
                return;
            }
        }
    });
    for (int c = 0; c < 3; ++c) {
        if (failure[c]) {
            std::rethrow_exception(failure[c]);
        }
        if (workers > 1 && stored[c]) {
            StoreProgress(progress, planeProgress[c]);
        }
    }
    return finished[0] && finished[1] && finished[2];
}

// ---------------------------------------------------------------------------
// The reader's entry point

bool FBribImageReader::GetImage(int n, FPixmap& pixmap, double* progress, const char* cancel, int reduction)
{
    const int index = m_pImpl->FindImageSection(n);
    BribImageHead head{};
    uint32_t payloadSize = 0;
    m_pImpl->priReadImageHead(index, head, payloadSize);
    FIFile* file = m_pImpl->GetFile();
    FBribPayload payload(file, file->Tell(), payloadSize);
    return FBribImageDecoder::Decode(payload, head, pixmap, progress, cancel, 0, reduction);
}
