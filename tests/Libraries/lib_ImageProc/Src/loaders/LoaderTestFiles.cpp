#include "LoaderTestFiles.h"

#include "FJPEGLineWriter.h"
#include "FLatchStorageClass.h"
#include "FTiffLineWriter.h"
#include "StorageClassRegistry.h"

namespace loadertest
{

FMemStorageClass& MemStorage()
{
    static FMemStorageClass* storage = RegisterMemStorageClass(FWideString("ldrmem"));
    return *storage;
}

FWideString MemURL(const std::string& name)
{
    return FWideString(("ldrmem://" + name).c_str());
}

FWideString LatchURL(const std::string& name)
{
    return FWideString(("latch://" + name).c_str());
}

void UseLatchForMemFiles()
{
    MemStorage();
    GetLatchStorageClass().SetTarget(FWideString("ldrmem://"));
}

FWideString PutFile(const std::string& name, const rawtest::Bytes& bytes)
{
    MemStorage().PutFile(FWideString(name.c_str()), std::string(bytes.begin(), bytes.end()));
    return MemURL(name);
}

rawtest::Bytes GetFile(const std::string& name)
{
    std::string bytes;
    MemStorage().GetFileBytes(FWideString(name.c_str()), bytes);
    return rawtest::Bytes(bytes.begin(), bytes.end());
}

rawtest::Bytes MakeJPEG(int cols, int rows, bool gray)
{
    std::vector<uint8_t> memory;
    FJPEGLineWriter writer(&memory, 9, false);
    const int type = gray ? FPixmap::PIXEL_8_MONO : FPixmap::PIXEL_24_RGB;
    writer.SetDimensions(cols, rows, type);
    std::vector<uint8_t> row(size_t(cols) * (gray ? 1 : 3));
    for (int y = 0; y < rows; ++y) {
        for (size_t i = 0; i < row.size(); ++i)
            row[i] = uint8_t(i * 7 + size_t(y) * 5);
        writer.WriteLine(row.data(), type);
    }
    writer.Finish();
    return rawtest::Bytes(memory.begin(), memory.end());
}

rawtest::Bytes MakeTiff(int cols, int rows)
{
    static int serial = 0;
    const std::string name = "made-" + std::to_string(++serial) + ".tif";
    {
        FTiffLineWriter writer(MemURL(name), false);
        writer.SetDimensions(cols, rows, FPixmap::PIXEL_24_RGB);
        std::vector<uint8_t> row(size_t(cols) * 3);
        for (int y = 0; y < rows; ++y) {
            for (size_t i = 0; i < row.size(); ++i)
                row[i] = uint8_t(i + size_t(y) * 11);
            writer.WriteLine(row.data(), FPixmap::PIXEL_24_RGB);
        }
        writer.Finish();
    }
    return GetFile(name);
}

uint8_t PreviewByte(int x, int y)
{
    return uint8_t(x + 3 * y);
}

rawtest::Bytes MakeRaw(const RawOptions& options)
{
    rawtest::BribFileBuilder file(options.version);
    rawtest::BribHeader& header = file.GetHeader();
    header.columns = options.columns;
    header.rows = options.rows;
    header.rotation = options.rotation;
    for (size_t i = 0; i < header.uniqueId.size(); ++i)
        header.uniqueId[i] = uint8_t(0x0F + 0x11 * i);
    header.SetLabel(options.label);
    for (const auto& [slot, type, value] : options.slots)
        header.SetExtData(slot, type, value);
    if (!options.properties.empty())
        file.Top().AddProperties(options.properties, file.Top().version);
    if (options.camfileKind >= 0) {
        rawtest::CamfileSection camfile;
        camfile.version = file.Top().version;
        camfile.kind = uint32_t(options.camfileKind);
        for (size_t i = 0; i < options.camfileSize; ++i)
            camfile.payload.push_back(uint8_t(i * 13));
        file.Top().AddCamfile(camfile);
    }
    if (options.previewCols > 0) {
        rawtest::ImageSection preview;
        preview.version = file.Top().version;
        preview.imageType = 2;
        preview.pixelFormat = 3;
        preview.columns = uint32_t(options.previewCols);
        preview.rows = uint32_t(options.previewRows);
        preview.rowSize = uint32_t(options.previewCols * 3);
        for (int y = 0; y < options.previewRows; ++y) {
            for (int x = 0; x < options.previewCols * 3; ++x)
                preview.payload.push_back(PreviewByte(x, y));
        }
        file.Top().AddImage(preview);
    }
    return file.Build();
}

OwnedPixmap::OwnedPixmap(int type, int cols, int rows)
    : m_bytes(size_t(cols) * size_t(rows) * size_t(GetPixelTypeBytesPerPixel(type)), 0xEE),
      m_pPixmap(NewFPixmap(type, m_bytes.data(), cols, rows, cols * GetPixelTypeBytesPerPixel(type)))
{
}

} // namespace loadertest
