// Pictures from other cameras (JPEG and TIFF files) show as their EXIF orientation says,
// turned further by the user's rotate commands, which are kept beside the picture in the
// configuration folder and never written into it.

#include "LoaderTestFiles.h"
#include "LoaderTestSupport.h"

#include "FPictureTurns.h"
#include "FPropList.h"
#include "RawTestFolder.h"

#include <tiffio.h>

#include <fstream>
#include <string>

using namespace loadertest;

namespace
{

struct Shown {
    int rotation, mirror, cols, rows;
    bool operator==(const Shown&) const = default;
};

void PrintTo(const Shown& s, std::ostream* out)
{
    *out << "turn " << s.rotation << " mirror " << s.mirror << " " << s.cols << " x " << s.rows;
}

class PictureTurnTest : public FEngineTest
{
protected:
    // The configuration folder is a disk folder.
    void SetUp() override
    {
        FEngineTest::SetUp();
        rawtest::EnsureDiskStorageClass();
    }

    // Properties as the engine gets them, or the loader's error text.
    std::string Properties(FILoader& loader, const FWideString& url, FPropList& list)
    {
        FLoaderRequest req;
        req.m_usFileURL = url;
        req.m_eType = kLoaderProperties;
        req.SetList(&list);
        if (!RunLoader(loader, req) || req.m_Async.GetState() != kCompleted)
            return ErrorText(req.m_Async) + " (not completed)";
        return "";
    }

    Shown ShownAs(FILoader& loader, const FWideString& url)
    {
        FPropList list(nullptr, "props");
        EXPECT_EQ(Properties(loader, url, list), "");
        return {list.GetInt(FWideString("ROTATION"), -1), list.GetInt(FWideString("MIRROR"), -1),
                list.GetInt(FWideString("COLS"), -1), list.GetInt(FWideString("ROWS"), -1)};
    }

    // The user's rotate command as the engine sends it; the request's final state.
    int Turn(FILoader& loader, const FWideString& url, const char* change)
    {
        FPropList changes(nullptr, "changes");
        changes.AddProp("ROTATION", change);
        FLoaderRequest req;
        req.m_usFileURL = url;
        req.m_eType = kLoaderModify;
        req.SetList(&changes);
        RunLoader(loader, req);
        m_lastError = ErrorText(req.m_Async);
        return req.m_Async.GetState();
    }

    std::string m_lastError;
};

} // namespace

TEST_F(PictureTurnTest, ExifOrientationGivesTheTurnTheMirrorAndTheSizeAsShown)
{
    const struct {
        const char* name;
        rawtest::Bytes file;
        bool jpeg;
        Shown shown;
    } cases[] = {
        {"plain.jpg", MakeCornerJPEG(64, 32, 0), true, {0, 0, 64, 32}},
        {"upright.jpg", MakeCornerJPEG(64, 32, 1), true, {0, 0, 64, 32}},
        {"phone.jpg", MakeCornerJPEG(64, 32, 6), true, {90, 0, 32, 64}},
        {"transverse.jpg", MakeCornerJPEG(64, 32, 7), true, {90, 1, 32, 64}},
        {"unknown.jpg", MakeCornerJPEG(64, 32, 9), true, {0, 0, 64, 32}},
        {"mirrored.tif", MakeTiffWith(64, 32, {.orientation = 2, .corners = true}), false, {0, 1, 64, 32}},
        {"left.tif", MakeTiffWith(64, 32, {.orientation = 8, .corners = true}), false, {270, 0, 32, 64}},
    };
    LoaderPtr jpeg(CreateJPEGLoader());
    LoaderPtr tiff(CreateTiffLoader());
    for (const auto& c : cases) {
        const FWideString url = PutFile(c.name, c.file);
        EXPECT_EQ(ShownAs(c.jpeg ? *jpeg : *tiff, url), c.shown) << c.name;
    }
}

TEST_F(PictureTurnTest, RotateCommandsTurnFurtherAndAreKeptBesideThePicture)
{
    const rawtest::Bytes phone = MakeCornerJPEG(64, 32, 6);
    const FWideString url = PutFile("phone.jpg", phone);
    LoaderPtr loader(CreateJPEGLoader());

    ASSERT_EQ(Turn(*loader, url, "+90"), kCompleted) << m_lastError;
    EXPECT_EQ(ShownAs(*loader, url), (Shown{180, 0, 64, 32}));
    ASSERT_EQ(Turn(*loader, url, "-90"), kCompleted);
    ASSERT_EQ(Turn(*loader, url, "-90"), kCompleted);
    EXPECT_EQ(ShownAs(*loader, url), (Shown{0, 0, 64, 32}));
    // Degrees without a sign set the turn as shown.
    ASSERT_EQ(Turn(*loader, url, "270"), kCompleted);
    EXPECT_EQ(ShownAs(*loader, url), (Shown{270, 0, 32, 64}));
    EXPECT_EQ(GetFile("phone.jpg"), phone);

    // Another run of the program finds the turn in the configuration folder.
    ForgetPictureTurns();
    std::ifstream stored(ConfigPath() + "/Rawbench/PictureTurns.xml");
    EXPECT_TRUE(stored.good());
    EXPECT_EQ(ShownAs(*loader, url), (Shown{270, 0, 32, 64}));

    // A TIFF turns the same way.
    const FWideString tiffURL = PutFile("t.tif", MakeTiffWith(64, 32, {.corners = true}));
    LoaderPtr tiff(CreateTiffLoader());
    ASSERT_EQ(Turn(*tiff, tiffURL, "+90"), kCompleted) << m_lastError;
    EXPECT_EQ(ShownAs(*tiff, tiffURL), (Shown{90, 0, 32, 64}));

    // A picture replaced or edited elsewhere is another picture: it starts as its file says.
    rawtest::Bytes edited = phone;
    edited.push_back(0);
    PutFile("phone.jpg", edited);
    EXPECT_EQ(ShownAs(*loader, url), (Shown{90, 0, 32, 64}));
}

TEST_F(PictureTurnTest, ATurnThatCannotBeKeptFailsAndChangesNothing)
{
    const FWideString url = PutFile("phone.jpg", MakeCornerJPEG(64, 32, 6));
    LoaderPtr loader(CreateJPEGLoader());
    // The configuration folder's place is taken by a file.
    std::ofstream(ConfigPath() + "/Rawbench") << "not a folder";
    EXPECT_EQ(Turn(*loader, url, "+90"), kError);
    EXPECT_EQ(m_lastError, "JPEGLoader::Modify: the turn of ldrmem://phone.jpg could not be kept");
    EXPECT_EQ(ShownAs(*loader, url), (Shown{90, 0, 32, 64}));

    // Changes a picture cannot take are refused as before.
    FPropList changes(nullptr, "changes");
    changes.AddProp("MARKBITS", "1");
    FLoaderRequest req;
    req.m_usFileURL = url;
    req.m_eType = kLoaderModify;
    req.SetList(&changes);
    RunLoader(*loader, req);
    EXPECT_EQ(ErrorText(req.m_Async), "JPEGLoader:HandleRequest - invalid request.");
}
