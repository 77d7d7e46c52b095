#include <gtest/gtest.h>

#include <png.h>

#include <cstdio>

#include "FPropList.h"
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

} // namespace
