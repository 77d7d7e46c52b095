#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class FPropList;
class FCamdataImpl;

// Element types of a camera-data matrix.
enum FCamdataElementType : int32_t {
    kCamdataInt16 = 0,
    kCamdataInt32 = 1,
    kCamdataUInt32 = 2,
    kCamdataFloat = 3,
    kCamdata64Bit = 4,
    kCamdataUInt8 = 5,
    kCamdataUInt16 = 6,
};

// A matrix found in camera data. The elements, in native order and first dimension
// outermost, lie in the caller's buffer, or in an aligned copy the matrix owns when in
// the buffer they are not aligned to their element size.
struct FCamdataMatrix {
    uint32_t m_uDimCount = 0;
    int32_t m_iType = 0;
    std::vector<uint32_t> m_dimSizes; // m_uDimCount entries
    uint8_t* m_pData = nullptr;
    uint64_t m_uElementCount = 0;        // product of the dimension sizes
    std::vector<uint64_t> m_alignedCopy; // empty when the elements are used in place

    template <typename T>
    T* GetData() const
    {
        return reinterpret_cast<T*>(m_pData);
    }
};

// The parsed camera calibration data of one raw file or camera-data file, looked up by
// block name. It reads no files: the constructor checks and byte-swaps the caller's buffer
// in place, and the pointers it hands out point into that buffer (which must outlive the
// object and stay unchanged), except for matrices whose elements had to be copied to be
// aligned.
//
// Structural errors of the file header and its sections throw FException; errors inside
// a block area end that area (a bad block size) or leave the block unusable (a bad
// property list or matrix) without throwing. Every offset and extent is checked against
// the block and the buffer.
class FCamdata
{
public:
    FCamdata(uint8_t* buffer, size_t size);
    ~FCamdata();
    FCamdata(const FCamdata&) = delete;
    FCamdata& operator=(const FCamdata&) = delete;

    // Appends every pair of the first block of that name, in order, to `list`; false when
    // an argument is null, no block has the name, or that block is not a usable property
    // list.
    bool GetPropertyList(const char* name, FPropList* list) const;

    // The matrix of the first block of that name, when its element type is `type`, its
    // dimension count is `dimCount` (0 accepts any) and its sizes equal `dimSizes` (null
    // accepts any); else null. The result belongs to this object.
    const FCamdataMatrix* GetMatrix(const char* name, int32_t type, uint32_t dimCount,
                                    const uint32_t* dimSizes) const;

    // Whether any block has that name (of any kind).
    bool HasBlock(const char* name) const;
    // Blocks entered in the table.
    uint32_t GetBlockCount() const;
    // True when the container was big-endian and has been swapped in place.
    bool WasSwapped() const;

private:
    std::unique_ptr<FCamdataImpl> m_pImpl;
};
