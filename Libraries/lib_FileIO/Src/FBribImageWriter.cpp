#include "FBribImageWriter.h"
#include "FByteOrder.h"

#include "BribFormat.h"
#include "FException.h"
#include "FWideString.h"
#include "StorageClassRegistry.h"

#include <chrono>
#include <cstring>

namespace
{

constexpr uint32_t kCreatedVersion = 0x00020002;
constexpr const char* kOpenFailed = "Error openning file for write.";

uint32_t SecondsSince1970()
{
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return uint32_t(std::chrono::duration_cast<std::chrono::seconds>(now).count());
}

} // namespace

class FBribImageWriterImpl
{
public:
    ~FBribImageWriterImpl()
    {
        if (m_pFile)
            m_pFile->Release();
    }

    bool HasExtData() const { return BribHasExtData(LoadLE32(m_header + 4)); }

    // The file position is the same afterwards; the bytes are on disk when it returns.
    void priWriteField(int offset, const void* bytes, int count)
    {
        const uint64_t position = m_pFile->Tell();
        m_pFile->Seek(uint64_t(offset));
        m_pFile->Write(bytes, count);
        m_pFile->Flush();
        std::memcpy(m_header + offset, bytes, size_t(count));
        m_pFile->Seek(position);
    }

    void priWriteU32(int offset, uint32_t value)
    {
        uint8_t bytes[4];
        StoreLE32(bytes, value);
        priWriteField(offset, bytes, 4);
    }

    FIFile* m_pFile = nullptr;
    uint8_t m_header[kBribHeaderSizeV2] = {};
    bool m_bUpdate = false;
};

FBribImageWriter::FBribImageWriter(const char16_t* url, const std::pair<int, int>* size, bool update)
    : m_pImpl(std::make_unique<FBribImageWriterImpl>())
{
    const FWideString urlText(url ? url : u"");
    FBribImageWriterImpl& impl = *m_pImpl;
    impl.m_bUpdate = update;
    if (update) {
        // Opening for update must never leave a new empty file behind.
        bool isFolder = false;
        if (!ExistsURL(urlText, isFolder) || isFolder)
            throw FExceptionBribWriter(kOpenFailed);
        impl.m_pFile = OpenFileURL(urlText, kFileRead | kFileWrite | kFileAppend);
        if (!impl.m_pFile)
            throw FExceptionBribWriter(kOpenFailed);
        impl.m_pFile->Seek(0);
        impl.m_pFile->Read(impl.m_header, int(kBribHeaderSizeV2));
        if (LoadLE32(impl.m_header) != kBribMagic)
            throw FExceptionNotABrib(urlText.GetNarrow());
        if (!BribIsVersion2Layout(LoadLE32(impl.m_header + 4)))
            throw FExceptionBribIncompatible(urlText.GetNarrow());
        return;
    }

    impl.m_pFile = OpenFileURL(urlText, kFileRead | kFileWrite);
    if (!impl.m_pFile)
        throw FExceptionBribWriter(kOpenFailed);
    uint8_t* header = impl.m_header;
    StoreLE32(header, kBribMagic);
    StoreLE32(header + 4, kCreatedVersion);
    // The id is the URL's last eight UTF-16 units plus the time; a shorter URL is
    // aligned to the end and its missing units are zero.
    uint8_t units[16] = {};
    const char16_t* text = urlText.GetBuffer();
    const int length = urlText.GetLength();
    for (int i = 0; i < 8; ++i) {
        const int index = length - 8 + i;
        if (index < 0)
            continue;
        units[2 * i] = uint8_t(text[index]);
        units[2 * i + 1] = uint8_t(text[index] >> 8);
    }
    for (int word = 0; word < 4; ++word)
        StoreLE32(header + 8 + 4 * word, LoadLE32(units + 4 * word) + SecondsSince1970());
    if (size) {
        StoreLE32(header + kBribV2ColumnsOffset, uint32_t(size->first));
        StoreLE32(header + kBribV2RowsOffset, uint32_t(size->second));
    }
    impl.m_pFile->Seek(0);
    impl.m_pFile->Write(header, int(kBribHeaderSizeV2));
    impl.m_pFile->Flush();
}

FBribImageWriter::~FBribImageWriter() = default;

uint32_t FBribImageWriter::GetRotation() const
{
    return LoadLE32(m_pImpl->m_header + kBribV2RotationOffset);
}

void FBribImageWriter::SetRotation(uint32_t degrees)
{
    m_pImpl->priWriteU32(kBribV2RotationOffset, degrees);
}

void FBribImageWriter::SetMarkBits(uint32_t bits)
{
    m_pImpl->priWriteU32(kBribV2MarkBitsOffset, bits);
}

bool FBribImageWriter::SetWBLabel(const char* label)
{
    if (!label || !m_pImpl->HasExtData())
        return false;
    const size_t length = std::strlen(label);
    if (length + 1 > size_t(kBribLabelSize))
        return false;
    // Only the text and its zero: the rest of the field keeps its old bytes.
    m_pImpl->priWriteField(kBribV2LabelOffset, label, int(length + 1));
    return true;
}

int FBribImageWriter::GetExtDataCount() const
{
    return m_pImpl->HasExtData() ? kBribExtDataSlots : 0;
}

int FBribImageWriter::GetExtDataType(int slot) const
{
    if (slot < 0 || slot >= GetExtDataCount())
        return 0;
    return m_pImpl->m_header[kBribV2ExtTypesOffset + slot];
}

bool FBribImageWriter::SetExtDataType(int slot, int type)
{
    // A type is one byte; a larger one would silently become another type.
    if (slot < 0 || slot >= GetExtDataCount() || type < 0 || type > 255)
        return false;
    const uint8_t byte = uint8_t(type);
    m_pImpl->priWriteField(kBribV2ExtTypesOffset + slot, &byte, 1);
    return true;
}

bool FBribImageWriter::SetExtDataValue(int slot, uint32_t value)
{
    if (slot < 0 || slot >= GetExtDataCount())
        return false;
    m_pImpl->priWriteU32(kBribV2ExtValuesOffset + 4 * slot, value);
    return true;
}
