#pragma once

// Small raw files for the browser tests: a property section of our choosing and an
// embedded JPEG preview, written by the raw fixture writer.

#include <string>
#include <utility>
#include <vector>

#include "ByteWriter.h"
#include "EngineTestSupport.h"
#include "FWideString.h"
#include "RawTestFolder.h"

namespace browsertest
{

using Pairs = std::vector<std::pair<std::string, std::string>>;

struct RawOptions {
    Pairs props = {};
    int previewCols = 64;
    int previewRows = 48;
    int cols = 640;
    int rows = 480;
    int rotation = 0;
    uint32_t markBits = 0;
    uint8_t idByte = 1;
};

rawtest::Bytes PreviewJPEG(int cols, int rows);
rawtest::Bytes MakeRaw(const RawOptions& options);
// A JPEG file of that size.
rawtest::Bytes MakeJpeg(int cols, int rows);

// Octal permission bits of a native path; -1 when it cannot be read.
int Permissions(const std::string& path);

// The engine state reset around each test, a disk folder for the files.
class BrowserTest : public FEngineTest
{
protected:
    void SetUp() override;
    void TearDown() override;

    FWideString PutRaw(const std::string& name, const RawOptions& options = {});
    std::unique_ptr<rawtest::RawTestFolder> m_pFolder;
};

} // namespace browsertest
