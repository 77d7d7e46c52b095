#pragma once

// The private part of FBribImageReader, shared with the image decoders.

#include "FWideString.h"

#include <cstdint>
#include <exception>
#include <vector>

class FIFile;
class FPropList;

// One listed directory entry.
struct BribSectionEntry {
    uint32_t m_uiEntrySize; // 12 for version-2 directories, else the entry's size word
    uint64_t m_uiOffset;
    uint32_t m_uiLength; // head included
    uint32_t m_uiType;
};

struct BribCamfileHead {
    uint32_t m_uiMagic;
    uint32_t m_uiVersion;
    uint32_t m_uiHeadSize;
    uint32_t m_uiReserved[2];
    uint32_t m_uiKind;
};

struct BribImageHead {
    uint32_t m_uiMagic;
    uint32_t m_uiVersion;
    uint32_t m_uiHeadSize;
    int m_iType;
    int m_iPixelFormat;
    int m_iCols;
    int m_iRows;
    int m_iRowSize;
    uint32_t m_uiReserved;
};

// Bounds on what a file may ask the reader to do.
inline constexpr int kMaxBribDirectoryDepth = 32;
inline constexpr uint32_t kMaxBribDirectoryEntries = 65536; // over all directories of a file
inline constexpr uint32_t kMaxBribImageDimension = 65536;

inline constexpr uint32_t kBribCamfileChunk = 0x20000;
inline constexpr uint32_t kBribEncryptedHeadSize = 12;

class FBribImageReaderImpl
{
public:
    explicit FBribImageReaderImpl(const char16_t* url);
    ~FBribImageReaderImpl();
    FBribImageReaderImpl(const FBribImageReaderImpl&) = delete;
    FBribImageReaderImpl& operator=(const FBribImageReaderImpl&) = delete;

    // The header in the version-3 layout, whatever the file's version.
    const uint8_t* GetHeader() const { return m_header; }
    uint32_t GetHeaderWord(int offset) const;
    uint32_t GetVersion() const { return GetHeaderWord(4); }
    const char* GetLabel() const { return m_label; }
    FIFile* GetFile() const { return m_pFile; }
    const FWideString& GetURL() const { return m_url; }

    // Offset 0 stands for the top directory, read at most once.
    void priReadDirectory(uint64_t offset);
    const std::vector<BribSectionEntry>& GetSections();
    int FindSection(uint32_t type, int n);
    int priCountSections(uint32_t type);
    // Image n: the n-th "IMAG" section, then the "IMA2" sections.
    int FindImageSection(int n);

    void priReadPropertySection(uint64_t offset, FPropList* list);
    // Both leave the file at the payload.
    void priReadCamfileHead(int index, BribCamfileHead& head, uint32_t& payloadSize);
    // The 12-byte head of a scrambled payload at the current position; returns the seed.
    uint32_t priReadEncryptedCamfileHead();
    void priReadImageHead(int index, BribImageHead& head, uint32_t& payloadSize);

    static int priGetPixmapType(int pixelFormat);
    // Columns and rows of the image a pixel format delivers from the head's.
    static void priGetDeliveredDimensions(int pixelFormat, int cols, int rows, int dims[2]);

private:
    void priReadHeader();
    void priReadDirectoryAt(uint64_t offset, int depth, std::vector<uint64_t>& path);
    uint64_t priReadTrailer();
    void priSeek(uint64_t offset);
    void priRead(void* buffer, uint64_t size);
    // The section must lie inside the file, and its head inside the section.
    void priCheckSectionBounds(const BribSectionEntry& entry, uint32_t headSize, uint32_t fixedSize);

    FIFile* m_pFile = nullptr;
    uint8_t m_header[240] = {};
    std::vector<BribSectionEntry> m_sections;
    bool m_bDirectoryRead = false;
    // A failed directory read fails every later call that needs the list.
    std::exception_ptr m_directoryError;
    uint32_t m_uiEntriesRead = 0;
    uint64_t m_uiFileSize = 0;
    char m_label[33] = {};
    FWideString m_url;
};
