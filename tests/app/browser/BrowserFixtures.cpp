#include "BrowserFixtures.h"

#include <sys/stat.h>

#include "BribFileBuilder.h"
#include "FEngineAccess.h"
#include "FJPEGLineWriter.h"
#include "FPixmap.h"

namespace browsertest
{

rawtest::Bytes PreviewJPEG(int cols, int rows)
{
    std::vector<uint8_t> memory;
    FJPEGLineWriter writer(&memory, 9, false);
    writer.SetDimensions(cols, rows, FPixmap::PIXEL_24_RGB);
    std::vector<uint8_t> row(size_t(cols) * 3);
    for (int y = 0; y < rows; ++y) {
        for (size_t i = 0; i < row.size(); ++i)
            row[i] = uint8_t((i * 3 + size_t(y) * 2) ^ (i >> 5));
        writer.WriteLine(row.data(), FPixmap::PIXEL_24_RGB);
    }
    writer.Finish();
    return rawtest::Bytes(memory.begin(), memory.end());
}

rawtest::Bytes MakeJpeg(int cols, int rows)
{
    return PreviewJPEG(cols, rows);
}

rawtest::Bytes MakeRaw(const RawOptions& o)
{
    rawtest::BribFileBuilder file;
    file.GetHeader().columns = uint32_t(o.cols);
    file.GetHeader().rows = uint32_t(o.rows);
    file.GetHeader().rotation = uint32_t(o.rotation);
    file.GetHeader().markBits = o.markBits;
    file.GetHeader().uniqueId.fill(o.idByte);
    file.GetHeader().SetLabel("Daylight");
    if (!o.props.empty())
        file.Top().AddProperties(o.props);
    if (o.previewCols > 0) {
        rawtest::ImageSection preview;
        preview.imageType = 2;
        preview.pixelFormat = 18;
        preview.columns = uint32_t(o.previewCols);
        preview.rows = uint32_t(o.previewRows);
        preview.payload = PreviewJPEG(o.previewCols, o.previewRows);
        file.Top().AddImage(preview);
    }
    return file.Build();
}

int Permissions(const std::string& path)
{
    struct stat st {
    };
    if (stat(path.c_str(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

void BrowserTest::SetUp()
{
    FEngineTest::SetUp();
    rawtest::EnsureDiskStorageClass();
    m_pFolder = std::make_unique<rawtest::RawTestFolder>();
}

void BrowserTest::TearDown()
{
    SetEngineWaitLimit(600.0);
    FEngineTest::TearDown();
    m_pFolder.reset();
}

FWideString BrowserTest::PutRaw(const std::string& name, const RawOptions& options)
{
    return m_pFolder->Write(name, MakeRaw(options));
}

} // namespace browsertest
