#include <gtest/gtest.h>

#include <png.h>

#include <cstdio>

#include "FIUiPixmap.h"
#include "FPropList.h"
#include "FTestBlock.h"
#include "FUiScriptFixture.h"

namespace
{

TEST(UiScriptFixtureTest, EveryVariantParsesAndSkinsAreReadablePngs)
{
    FUiScriptFolder folder;
    for (auto variant :
         {EUiScriptVariant::kBase, EUiScriptVariant::kNoPersistence, EUiScriptVariant::kSingleInstance}) {
        auto root = folder.Parse(UiBaseScript(variant));
        ASSERT_TRUE(root);
        EXPECT_TRUE(root->GetName() == "UI_SCRIPT");
        EXPECT_TRUE(root->GetString("Name", FWideString()) == "TestApp");
        EXPECT_EQ(root->GetBool("HasPersistantDataStore", false),
                  variant != EUiScriptVariant::kNoPersistence);
        EXPECT_EQ(root->GetBool("_SingleInstApp", false), variant == EUiScriptVariant::kSingleInstance);
    }

    folder.WriteSkins();
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, folder.Join("slider_back.png").c_str()));
    EXPECT_EQ(image.width, 100u);
    EXPECT_EQ(image.height, 6u);
    image.format = PNG_FORMAT_RGBA;
    std::vector<png_byte> pixels(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr));
    EXPECT_EQ(pixels[0], 255); // the marked pixel
    EXPECT_EQ(pixels[4], 40);
    EXPECT_EQ(pixels[7], 255);
}

TEST(UiScriptFixtureTest, BlockDrawsAtItsOffsetWithinTheTargetClip)
{
    FPropList tag(nullptr, "BLOCK");
    tag.SetInt(FWideString("X"), 2);
    tag.SetInt(FWideString("Y"), 3);
    tag.SetInt(FWideString("W"), 4);
    tag.SetInt(FWideString("H"), 5);
    tag.SetString(FWideString("Color"), FWideString("#00FF00"));
    FTestBlock block("BLOCK");
    block.InitUiObject(nullptr, nullptr, nullptr, &tag);
    FIUiPixmap* target = CreateUiPixmap(40, 40, true);
    ASSERT_NE(target, nullptr);
    target->FillRGBA(0, 0, 0, 255);
    // Drawn 20 right and down: the block lands at (22,23)-(26,28); the clip cuts its last column.
    block.Display(target, 20, 20, FRect(0, 0, 25, 40));
    auto green = [&](int x, int y) {
        FUiColor c;
        target->GetPixel(x, y, c);
        return c.green == 255 && c.red == 0;
    };
    EXPECT_TRUE(green(22, 23));
    EXPECT_TRUE(green(24, 27));
    EXPECT_FALSE(green(25, 23)); // clipped
    EXPECT_FALSE(green(21, 23));
    EXPECT_FALSE(green(22, 28));
    EXPECT_FALSE(green(2, 3)); // not at its unshifted place
    ReleaseUiPixmap(target);
}

} // namespace
