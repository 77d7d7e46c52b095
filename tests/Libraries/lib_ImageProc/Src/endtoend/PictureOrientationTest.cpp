// A picture from another camera shows upright wherever it is shown or saved: its thumbnail
// and review preview, its processed image and the file saved from it, for each of the
// eight EXIF orientations, and as the user turned it further. Saved files are upright and
// say orientation 1.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "DevelopDriver.h"
#include "DiskEngineTest.h"
#include "FIPMImage.h"
#include "FIPManagerRequest.h"
#include "FJPEGImageReader.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "FTiffImageReader.h"
#include "LoaderTestFiles.h"

using loadertest::Corner;
using loadertest::kBottomLeft;
using loadertest::kBottomRight;
using loadertest::kTopLeft;
using loadertest::kTopRight;

namespace
{

constexpr int kCols = 96;
constexpr int kRows = 64;

// The stored quadrant seen at the top left, top right, bottom left and bottom right, from
// the orientation tag's definition (which stored row and column become the top and left).
struct Seen {
    Corner topLeft, topRight, bottomLeft, bottomRight;
    bool operator==(const Seen&) const = default;
};

const Seen kSeen[9] = {
    {kTopLeft, kTopRight, kBottomLeft, kBottomRight}, // 0: no tag
    {kTopLeft, kTopRight, kBottomLeft, kBottomRight}, // 1: as stored
    {kTopRight, kTopLeft, kBottomRight, kBottomLeft}, // 2: mirrored left to right
    {kBottomRight, kBottomLeft, kTopRight, kTopLeft}, // 3: upside down
    {kBottomLeft, kBottomRight, kTopLeft, kTopRight}, // 4: mirrored top to bottom
    {kTopLeft, kBottomLeft, kTopRight, kBottomRight}, // 5: row 0 is the left side, column 0 the top
    {kBottomLeft, kTopLeft, kBottomRight, kTopRight}, // 6: row 0 is the right side, column 0 the top
    {kBottomRight, kTopRight, kBottomLeft, kTopLeft}, // 7: row 0 is the right side, column 0 the bottom
    {kTopRight, kBottomRight, kTopLeft, kBottomLeft}, // 8: row 0 is the left side, column 0 the bottom
};

void PrintTo(const Seen& s, std::ostream* out)
{
    const char* names[] = {"TL", "TR", "BL", "BR"};
    *out << names[s.topLeft] << " " << names[s.topRight] << " / " << names[s.bottomLeft] << " "
         << names[s.bottomRight];
}

// Reads the quadrants a sixth of the way in from each corner.
template <class Channels>
Seen Look(int cols, int rows, Channels rgb)
{
    auto at = [&](int x, int y) {
        int c[3];
        rgb(x, y, c);
        return loadertest::NearestCorner(c[0], c[1], c[2]);
    };
    const int l = cols / 6, r = cols - 1 - cols / 6, t = rows / 6, b = rows - 1 - rows / 6;
    return {at(l, t), at(r, t), at(l, b), at(r, b)};
}

Seen LookAtDisplay(const FPixmap& p)
{
    return Look(p.GetCols(), p.GetRows(), [&](int x, int y, int c[3]) {
        const uint8_t* bgra = p.GetRowAddress(y) + 4 * x;
        c[0] = bgra[2], c[1] = bgra[1], c[2] = bgra[0];
    });
}

class PictureOrientation : public DiskEngineTest
{
protected:
    void Run(FIPManagerRequest& request)
    {
        ASSERT_TRUE(developtest::RunThroughPool(request, nullptr, std::chrono::seconds(60)));
        ASSERT_EQ(request.m_Async.GetState(), kCompleted) << request.m_Async.m_usErrorText.GetNarrow();
    }

    // The thumbnail, the processed image and a saved JPEG, each as seen, and the sizes shown.
    void Check(const FWideString& url, const Seen& expected, bool upright, const std::string& name)
    {
        SCOPED_TRACE(name);
        const int shownCols = upright ? kCols : kRows;
        const int shownRows = upright ? kRows : kCols;
        FIPManagerRequest props;
        developtest::PrepareProperties(props, url);
        Run(props);
        EXPECT_EQ(props.m_pImageProps->GetInt(FWideString("COLS"), 0), shownCols);
        EXPECT_EQ(props.m_pImageProps->GetInt(FWideString("ROWS"), 0), shownRows);

        FIPManagerRequest preview;
        developtest::PreparePreview(preview, url, 48);
        Run(preview);
        const FPixmap& thumbnail = *preview.m_pOutputImage->GetPixmap();
        EXPECT_EQ(thumbnail.GetCols() > thumbnail.GetRows(), upright);
        EXPECT_EQ(LookAtDisplay(thumbnail), expected) << "thumbnail";

        FIPManagerRequest processed;
        developtest::PrepareProcessed(processed, url, shownCols, shownRows, kDisplay);
        Run(processed);
        const FPixmap& image = *processed.m_pOutputImage->GetPixmap();
        EXPECT_EQ(image.GetCols(), shownCols);
        EXPECT_EQ(LookAtDisplay(image), expected) << "processed";

        SaveAndLook<FJPEGImageReader>(url, "saved-" + name + ".jpg", kSaveJPEG, expected, shownCols,
                                      shownRows);
        SaveAndLook<FTiffImageReader>(url, "saved-" + name + ".tif", kSaveTIFF, expected, shownCols,
                                      shownRows);
    }

    // A saved file is upright: its pixels as shown, its orientation 1 (a TIFF: no tag).
    template <class Reader>
    void SaveAndLook(const FWideString& url, const std::string& name, int fileType, const Seen& expected,
                     int shownCols, int shownRows)
    {
        SCOPED_TRACE(name);
        const FWideString saved = m_pFolder->URL(name);
        FIPManagerRequest save;
        developtest::PrepareSave(save, url, saved, fileType, kRGB24, 2, shownCols, shownRows);
        Run(save);
        Reader reader(saved);
        int cols = 0, rows = 0, type = 0;
        reader.GetDimensions(cols, rows, type);
        ASSERT_EQ(cols, shownCols);
        ASSERT_EQ(rows, shownRows);
        std::vector<uint8_t> bytes(size_t(cols) * rows * 3);
        std::unique_ptr<FPixmap> pixmap(
            NewFPixmap(FPixmap::PIXEL_24_RGB, bytes.data(), cols, rows, cols * 3));
        reader.ReadImage(*pixmap);
        FPropList savedProps(nullptr, "saved");
        reader.GetProperties(&savedProps);
        EXPECT_EQ(savedProps.GetInt(FWideString("ORIENTATION"), 1), 1);
        EXPECT_EQ(Look(cols, rows,
                       [&](int x, int y, int c[3]) {
                           const uint8_t* p = pixmap->GetRowAddress(y) + 3 * x;
                           c[0] = p[0], c[1] = p[1], c[2] = p[2];
                       }),
                  expected);
    }
};

} // namespace

TEST_F(PictureOrientation, EveryOrientationShowsAndSavesUpright)
{
    for (int orientation = 0; orientation <= 8; ++orientation) {
        const bool upright = orientation <= 4;
        const std::string jpeg = "o" + std::to_string(orientation) + ".jpg";
        Check(m_pFolder->Write(jpeg, loadertest::MakeCornerJPEG(kCols, kRows, orientation)),
              kSeen[orientation], upright, jpeg);
        const std::string tiff = "o" + std::to_string(orientation) + ".tif";
        loadertest::TiffOptions options;
        options.orientation = orientation;
        options.corners = true;
        Check(m_pFolder->Write(tiff, loadertest::MakeTiffWith(kCols, kRows, options)), kSeen[orientation],
              upright, tiff);
    }
}

// The user's quarter turn adds to the camera's: a phone's portrait turned once more
// clockwise stands on its head.
TEST_F(PictureOrientation, TheUsersTurnAddsToTheCamerasAndLeavesThePictureAsItWas)
{
    const rawtest::Bytes phone = loadertest::MakeCornerJPEG(kCols, kRows, 6);
    const FWideString url = m_pFolder->Write("phone.jpg", phone);
    Check(url, kSeen[6], false, "before");
    FIPManagerRequest turn;
    turn.m_eKind = kReqModify;
    turn.m_usFileName = url;
    turn.m_pImageProps->AddProp("ROTATION", "+90");
    Run(turn);
    Check(url, kSeen[3], true, "turned");
    EXPECT_EQ(m_pFolder->Read("phone.jpg"), phone);
}
