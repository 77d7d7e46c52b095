// Develops a generated synthetic raw file through the manager pool, as the application will:
// properties, a thumbnail, then saves to JPEG and to 16-bit TIFF, and prints where the files
// went and how long each stage took.
//
//     rb_develop [--size 2640x1760] [--out <folder>] [--seed N]

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "DevelopDriver.h"
#include "DevelopableRaw.h"
#include "FCache.h"
#include "FIPManager.h"
#include "FIPManagerRequest.h"
#include "FPropList.h"

namespace
{

void PrintTimes(const char* title, const developtest::DevelopTimes& t)
{
    std::printf("\n%s: %.3f s in all, %d idle calls, longest idle %.1f ms, peak cache %.1f MiB\n", title,
                t.totalSeconds, t.idleCalls, t.longestIdleSeconds * 1e3,
                double(t.peakCacheBytes) / 1048576.0);
    for (size_t s = 0; s < t.stateSeconds.size(); ++s)
        if (t.stateSeconds[s] >= 0.0005)
            std::printf("  %-18s %8.1f ms\n", developtest::ManagerStateName(int(s)), t.stateSeconds[s] * 1e3);
}

bool Run(const char* what, FIPManagerRequest& req, developtest::DevelopTimes& times)
{
    if (!developtest::RunThroughPool(req, &times)) {
        std::fprintf(stderr, "%s: no answer within the time limit\n", what);
        return false;
    }
    if (req.m_Async.GetState() != kCompleted) {
        std::fprintf(stderr, "%s failed: state %d, error %d: %s\n", what, req.m_Async.GetState(),
                     req.m_Async.GetErrorCode(), req.m_Async.m_usErrorText.GetNarrow());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    int cols = 2640;
    int rows = 1760;
    uint32_t seed = 1;
    std::string out = "develop-output";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--size") == 0 && std::sscanf(argv[i + 1], "%dx%d", &cols, &rows) == 2)
            continue;
        if (std::strcmp(argv[i], "--out") == 0) {
            out = argv[i + 1];
            continue;
        }
        if (std::strcmp(argv[i], "--seed") == 0) {
            seed = uint32_t(std::strtoul(argv[i + 1], nullptr, 10));
            continue;
        }
        std::fprintf(stderr, "usage: %s [--size WxH] [--out folder] [--seed N]\n", argv[0]);
        return 2;
    }
    if (cols < 64 || rows < 48 || cols > 12000 || rows > 12000) {
        std::fprintf(stderr, "size %dx%d: sizes from 64x48 to 12000x12000 only\n", cols, rows);
        return 2;
    }
    std::error_code error;
    std::filesystem::create_directories(out, error);
    const std::filesystem::path folder = std::filesystem::absolute(out);
    const std::string rawPath = (folder / "synthetic.xxx").string();
    const std::string jpegPath = (folder / "synthetic.jpg").string();
    const std::string tiffPath = (folder / "synthetic.tif").string();

    std::printf(
        "Generating a synthetic %dx%d raw file (this is a generated test capture, not a photograph)...\n",
        cols, rows);
    developtest::DevelopableRawOptions options;
    options.cols = cols;
    options.rows = rows;
    options.seed = seed;
    // The scene is lit at the camera's daylight neutral, and the automatic estimate would
    // tint a capture this bright warm on purpose: record the light it was made under.
    options.whiteBalance = "Daylight";
    options.previewCols = {cols / 2, std::max(64, cols / 8)};
    const rawtest::Bytes bytes = developtest::MakeDevelopableRaw(options);
    {
        std::ofstream file(rawPath, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        if (!file) {
            std::fprintf(stderr, "cannot write %s\n", rawPath.c_str());
            return 1;
        }
    }
    const FWideString raw = developtest::DiskURL(rawPath);
    const uint32_t cacheLimit = FCache::kDefaultLimit;
    GetGlobalCache()->SetSize(cacheLimit);
    SetIPManagerPoolSize(kDefaultIPManagerPoolSize);
    std::printf("Raw file: %s (%.1f MB); cache limit %.0f MiB\n", rawPath.c_str(), double(bytes.size()) / 1e6,
                double(cacheLimit) / 1048576.0);

    developtest::DevelopTimes propsTimes, thumbTimes, jpegTimes, tiffTimes;
    FIPManagerRequest props;
    developtest::PrepareProperties(props, raw);
    if (!Run("Properties", props, propsTimes))
        return 1;
    std::printf("Properties: %d x %d, unique id %s\n", props.m_pImageProps->GetInt("COLS", 0),
                props.m_pImageProps->GetInt("ROWS", 0),
                props.m_pImageProps->GetString("UNIQUEID", "?").GetNarrow());

    FIPManagerRequest thumb;
    developtest::PreparePreview(thumb, raw, 160);
    if (!Run("Thumbnail", thumb, thumbTimes))
        return 1;
    std::printf("Thumbnail: %d x %d in %.1f ms\n", thumb.m_iOutCols, thumb.m_iOutRows,
                thumbTimes.totalSeconds * 1e3);

    FIPManagerRequest jpeg;
    developtest::PrepareSave(jpeg, raw, developtest::DiskURL(jpegPath), kSaveJPEG, kRGB24, 2, cols, rows);
    if (!Run("JPEG save", jpeg, jpegTimes))
        return 1;
    FIPManagerRequest tiff;
    developtest::PrepareSave(tiff, raw, developtest::DiskURL(tiffPath), kSaveTIFF, kRGB48, 3, cols, rows);
    if (!Run("16-bit TIFF save", tiff, tiffTimes))
        return 1;

    PrintTimes("Full development to JPEG (sRGB)", jpegTimes);
    PrintTimes("16-bit TIFF (Adobe RGB (1998)), reusing what the cache still holds", tiffTimes);
    std::printf("\nJPEG written to %s\n16-bit TIFF written to %s\n", jpegPath.c_str(), tiffPath.c_str());
    SetIPManagerPoolSize(0);
    return 0;
}
