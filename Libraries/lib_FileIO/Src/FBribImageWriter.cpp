#include "FBribImageWriter.h"
#include "FByteOrder.h"

#include "BribFormat.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FReplacingFile.h"
#include "FWideString.h"
#include "StorageClassRegistry.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace
{

constexpr uint32_t kCreatedVersion = 0x00020002;
constexpr const char* kOpenFailed = "Error openning file for write.";

uint32_t SecondsSince1970()
{
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return uint32_t(std::chrono::duration_cast<std::chrono::seconds>(now).count());
}

// Undo record: code, field offset, byte count, the header's first bytes
// (magic, version, unique id: the record applies to this file only), the old
// bytes, and a checksum of all before it. A torn record fails the checksum;
// it was being written before the field, which is then untouched.
constexpr uint32_t kUndoMagic = BribFourCC("RBUJ");
constexpr int kUndoIdentBytes = 24;
constexpr int kUndoHead = 12 + kUndoIdentBytes;

uint32_t Checksum(const uint8_t* bytes, size_t count)
{
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < count; ++i)
        hash = (hash ^ bytes[i]) * 16777619u;
    return hash;
}

struct FileCloser {
    void operator()(FIFile* file) const { file->Release(); }
};
using FilePtr = std::unique_ptr<FIFile, FileCloser>;

FilePtr OpenOrNull(const FWideString& url, int mode)
{
    try {
        return FilePtr(OpenFileURL(url, mode));
    } catch (const FException&) {
        return nullptr;
    }
}

void WriteUndoRecord(const FWideString& url, const uint8_t* header, int offset, int count)
{
    std::vector<uint8_t> record(size_t(kUndoHead + count + 4));
    StoreLE32(record.data(), kUndoMagic);
    StoreLE32(record.data() + 4, uint32_t(offset));
    StoreLE32(record.data() + 8, uint32_t(count));
    std::memcpy(record.data() + 12, header, kUndoIdentBytes);
    std::memcpy(record.data() + kUndoHead, header + offset, size_t(count));
    StoreLE32(record.data() + kUndoHead + count, Checksum(record.data(), size_t(kUndoHead + count)));
    FilePtr file = OpenOrNull(BribUndoURL(url), kFileWrite);
    if (!file)
        throw FExceptionFileWrite(BribUndoURL(url).GetNarrow());
    file->Write(record.data(), int(record.size()));
    file->Flush();
}

void DeleteUndoRecord(const FWideString& url)
{
    DeleteFileURL(BribUndoURL(url));
}

void WriteAt(FIFile& file, int offset, const void* bytes, int count)
{
    file.Seek(uint64_t(offset));
    file.Write(bytes, count);
    file.Flush();
}

} // namespace

FWideString BribUndoURL(const FWideString& url)
{
    const std::u16string_view text(url.GetBuffer(), size_t(url.GetLength()));
    const size_t slash = text.rfind(u'/');
    const size_t nameStart = slash == std::u16string_view::npos ? 0 : slash + 1;
    // The name as the file system has it, so that every spelling of the URL finds one record.
    FWideString name;
    if (nameStart < text.size())
        UnescapeURLChars(FWideString(text.data() + nameStart, text.data() + text.size() - 1), name);
    uint64_t hash = 14695981039346656037u;
    for (int i = 0; i < name.GetLength(); ++i) {
        const char16_t unit = name.GetBuffer()[i];
        for (const uint8_t byte : {uint8_t(unit & 0xFF), uint8_t(unit >> 8)})
            hash = (hash ^ byte) * 1099511628211u;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    FWideString undo = nameStart == 0 ? FWideString() : FWideString(text.data(), text.data() + nameStart - 1);
    undo += ".";
    undo += hex;
    undo += ".undo";
    return undo;
}

FWideString BribLegacyUndoURL(const FWideString& url)
{
    FWideString undo = url;
    undo += ".undo";
    return undo;
}

namespace
{

// Rolls back the record at undoURL; false when it is left because it could not be applied.
bool RollBackRecord(const FWideString& url, const FWideString& undoURL)
{
    bool isFolder = false;
    if (!ExistsURL(undoURL, isFolder) || isFolder)
        return true;
    std::vector<uint8_t> record(size_t(kUndoHead) + kBribHeaderSizeV2 + 4);
    int size = 0;
    if (FilePtr undo = OpenOrNull(undoURL, kFileRead))
        size = undo->ReadSome(record.data(), int(record.size()));
    const int count = size >= kUndoHead + 4 ? int(LoadLE32(record.data() + 8)) : -1;
    const int offset = size >= kUndoHead + 4 ? int(LoadLE32(record.data() + 4)) : -1;
    const bool whole =
        count > 0 && offset >= 0 && int64_t{offset} + count <= int64_t{kBribHeaderSizeV2} &&
        size == kUndoHead + count + 4 && LoadLE32(record.data()) == kUndoMagic &&
        LoadLE32(record.data() + kUndoHead + count) == Checksum(record.data(), size_t(kUndoHead + count));
    if (whole) {
        FilePtr file = OpenOrNull(url, kFileRead | kFileWrite | kFileAppend);
        uint8_t ident[kUndoIdentBytes] = {};
        if (!file || file->GetSize() < kBribHeaderSizeV2)
            return false;
        file->Seek(0);
        file->Read(ident, kUndoIdentBytes);
        if (std::memcmp(ident, record.data() + 12, kUndoIdentBytes) == 0)
            WriteAt(*file, offset, record.data() + kUndoHead, count);
    }
    DeleteFileURL(undoURL);
    return true;
}

} // namespace

bool RecoverBribHeaderUpdate(const FWideString& url)
{
    try {
        // Newest first: a record under the older name was rolled back before any later update.
        return RollBackRecord(url, BribUndoURL(url)) && RollBackRecord(url, BribLegacyUndoURL(url));
    } catch (const FException& e) {
        DebugTrace("RecoverBribHeaderUpdate: %s\n", e.GetMessage());
        return false;
    }
}

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
        try {
            WriteUndoRecord(m_url, m_header, offset, count);
        } catch (...) {
            // The field is untouched; a torn record would be ignored anyway.
            priForgetUndo();
            m_pFile->Seek(position);
            throw;
        }
        try {
            WriteAt(*m_pFile, offset, bytes, count);
        } catch (...) {
            // Put the old bytes back now; when that fails too, the record stays
            // for the next open to roll back.
            try {
                WriteAt(*m_pFile, offset, m_header + offset, count);
                DeleteUndoRecord(m_url);
            } catch (...) {
            }
            m_pFile->Seek(position);
            throw;
        }
        std::memcpy(m_header + offset, bytes, size_t(count));
        m_pFile->Seek(position);
        DeleteUndoRecord(m_url);
    }

    void priForgetUndo() noexcept
    {
        try {
            DeleteUndoRecord(m_url);
        } catch (...) {
        }
    }

    void priWriteU32(int offset, uint32_t value)
    {
        uint8_t bytes[4];
        StoreLE32(bytes, value);
        priWriteField(offset, bytes, 4);
    }

    FIFile* m_pFile = nullptr;
    FWideString m_url;
    uint8_t m_header[kBribHeaderSizeV2] = {};
    bool m_bUpdate = false;
};

FBribImageWriter::FBribImageWriter(const char16_t* url, const std::pair<int, int>* size, bool update)
    : m_pImpl(std::make_unique<FBribImageWriterImpl>())
{
    const FWideString urlText(url ? url : u"");
    FBribImageWriterImpl& impl = *m_pImpl;
    impl.m_bUpdate = update;
    impl.m_url = urlText;
    if (!update)
        priCreate(urlText, size);
    // Opening for update must never leave a new empty file behind.
    bool isFolder = false;
    if (!ExistsURL(urlText, isFolder) || isFolder)
        throw FExceptionBribWriter(kOpenFailed);
    if (!RecoverBribHeaderUpdate(urlText))
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
}

void FBribImageWriter::priCreate(const FWideString& urlText, const std::pair<int, int>* size)
{
    std::unique_ptr<FReplacingFile> target;
    try {
        target = std::make_unique<FReplacingFile>(urlText);
    } catch (const FException&) {
        throw FExceptionBribWriter(kOpenFailed);
    }
    uint8_t header[kBribHeaderSizeV2] = {};
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
    target->GetFile()->Write(header, int(kBribHeaderSizeV2));
    target->Commit();
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
