#include "FBribImageReader.h"

#include "BribFormat.h"
#include "EmbeddedJPEG.h"
#include "FBribImageDecoder.h"
#include "FBribImageReaderImpl.h"
#include "FException.h"
#include "FIStorageClass.h"
#include "FReadSignals.h"

#include <algorithm>
#include <climits>

FBribImageReader::FBribImageReader(const char16_t* url) : m_pImpl(new FBribImageReaderImpl(url)) {}

FBribImageReader::~FBribImageReader()
{
    delete m_pImpl;
}

std::pair<int, int> FBribImageReader::GetDimensions() const
{
    return {int(m_pImpl->GetHeaderWord(kBribV3ColumnsOffset)),
            int(m_pImpl->GetHeaderWord(kBribV3RowsOffset))};
}

const unsigned char* FBribImageReader::GetUniqueID() const
{
    return m_pImpl->GetHeader() + kBribV3UniqueIdOffset;
}

uint32_t FBribImageReader::GetMarkBits() const
{
    return m_pImpl->GetHeaderWord(kBribV3MarkBitsOffset);
}

uint32_t FBribImageReader::GetRotation() const
{
    return m_pImpl->GetHeaderWord(kBribV3RotationOffset);
}

const char* FBribImageReader::GetWBLabel() const
{
    if (!BribHasExtData(m_pImpl->GetVersion()))
        return nullptr;
    return m_pImpl->GetLabel();
}

int FBribImageReader::GetExtDataCount() const
{
    return BribHasExtData(m_pImpl->GetVersion()) ? kBribExtDataSlots : 0;
}

int FBribImageReader::GetExtDataType(int slot) const
{
    if (slot < 0 || slot >= GetExtDataCount())
        return 0;
    return m_pImpl->GetHeader()[kBribV3ExtTypesOffset + slot];
}

uint32_t FBribImageReader::GetExtDataValue(int slot) const
{
    if (slot < 0 || slot >= GetExtDataCount())
        return 0;
    return m_pImpl->GetHeaderWord(kBribV3ExtValuesOffset + 4 * slot);
}

void FBribImageReader::GetProperties(FPropList* list)
{
    for (const BribSectionEntry& entry : m_pImpl->GetSections()) {
        if (entry.m_uiType == kBribTypeProperties)
            m_pImpl->priReadPropertySection(entry.m_uiOffset, list);
    }
}

int FBribImageReader::GetCamfileCount()
{
    return m_pImpl->priCountSections(kBribTypeCamfile);
}

void FBribImageReader::GetCamfileInfo(int n, int& size, int& kind)
{
    BribCamfileHead head;
    uint32_t payloadSize = 0;
    m_pImpl->priReadCamfileHead(m_pImpl->FindSection(kBribTypeCamfile, n), head, payloadSize);
    kind = int(head.m_uiKind);
    if (head.m_uiKind == 2) {
        if (payloadSize < kBribEncryptedHeadSize)
            throw FExceptionBribReader("Scrambled camera data is shorter than its head.");
        payloadSize -= kBribEncryptedHeadSize;
        kind = 1;
    }
    if (payloadSize > uint32_t(INT_MAX))
        throw FExceptionBribReader("Camera data section is too large.");
    size = int(payloadSize);
}

unsigned FBribImageReader::ReadCamfile(int n, void* buffer, unsigned max, double* progress,
                                       const char* cancel)
{
    BribCamfileHead head;
    uint32_t payloadSize = 0;
    m_pImpl->priReadCamfileHead(m_pImpl->FindSection(kBribTypeCamfile, n), head, payloadSize);
    uint32_t seed = 0;
    if (head.m_uiKind == 2) {
        if (payloadSize < kBribEncryptedHeadSize)
            throw FExceptionBribReader("Scrambled camera data is shorter than its head.");
        seed = m_pImpl->priReadEncryptedCamfileHead();
        payloadSize -= kBribEncryptedHeadSize;
    }
    if (!buffer)
        return 0;

    const uint32_t total = std::min<uint32_t>(max, payloadSize);
    auto* bytes = static_cast<uint8_t*>(buffer);
    uint32_t remaining = total;
    while (remaining > 0) {
        const uint32_t chunk = std::min(remaining, kBribCamfileChunk);
        m_pImpl->GetFile()->Read(bytes + (total - remaining), int(chunk));
        remaining -= chunk;
        StoreReadProgress(progress, 1.0 - double(remaining) / double(total));
        if (ReadCancelled(cancel))
            return 0;
    }
    if (head.m_uiKind == 2)
        BribDescramble(bytes, total, seed, kBribCamfileKeystream);
    return total;
}

int FBribImageReader::GetImageCount()
{
    return m_pImpl->priCountSections(kBribTypeImage) + m_pImpl->priCountSections(kBribTypeImage2);
}

void FBribImageReader::GetImageInfo(int n, int dims[2], int& pixmapType, int& imageType, int reduction)
{
    BribImageHead head;
    uint32_t payloadSize = 0;
    m_pImpl->priReadImageHead(m_pImpl->FindImageSection(n), head, payloadSize);
    if (uint32_t(head.m_iCols) > kMaxBribImageDimension || uint32_t(head.m_iRows) > kMaxBribImageDimension)
        throw FExceptionBribReader("Image section dimensions are too large.");
    FBribImageReaderImpl::priGetDeliveredDimensions(head.m_iPixelFormat, head.m_iCols, head.m_iRows, dims);
    if (head.m_iPixelFormat == kBribPixelJPEG) {
        reduction = std::clamp(reduction, 0, 3);
        dims[0] = ReducedJPEGSide(dims[0], reduction);
        dims[1] = ReducedJPEGSide(dims[1], reduction);
    }
    pixmapType = FBribImageReaderImpl::priGetPixmapType(head.m_iPixelFormat);
    imageType = head.m_iType;
}
