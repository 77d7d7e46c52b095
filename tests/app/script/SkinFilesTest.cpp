#include <gtest/gtest.h>

#include <png.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "SkinPainter.h"

namespace
{

struct Decoded {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;
    uint32_t Pixel(int x, int y) const
    {
        const uint8_t* p = &rgba[(size_t(y) * width + x) * 4];
        return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    }
};

bool Decode(const std::string& name, Decoded& out)
{
    const std::string path = std::string(RB_APP_DIR) + "/" + name;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return false;
    image.format = PNG_FORMAT_RGBA;
    out.width = static_cast<int>(image.width);
    out.height = static_cast<int>(image.height);
    out.rgba.assign(PNG_IMAGE_SIZE(image), 0);
    return png_image_finish_read(&image, nullptr, out.rgba.data(), 0, nullptr) != 0;
}

std::string ReadSource(const std::string& name)
{
    std::ifstream in(std::string(RB_APP_SCRIPT_SOURCE) + "/" + name);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Rect {
    int l = 0, t = 0, r = 0, b = 0;
};

Rect ParseRect(const std::string& text)
{
    Rect rect;
    std::sscanf(text.c_str(), "%d,%d,%d,%d", &rect.l, &rect.t, &rect.r, &rect.b);
    return rect;
}

// The attributes of every STYLE of the script.
std::vector<std::map<std::string, std::string>> Styles()
{
    const std::string script = ReadSource("ui.xml");
    std::vector<std::map<std::string, std::string>> styles;
    static const std::regex kStyle(R"(<STYLE\s([^>]*)/>)");
    static const std::regex kAttribute(R"(([A-Za-z_]+)="([^"]*)\")");
    for (auto it = std::sregex_iterator(script.begin(), script.end(), kStyle); it != std::sregex_iterator();
         ++it) {
        std::map<std::string, std::string> attributes;
        const std::string body = (*it)[1].str();
        for (auto a = std::sregex_iterator(body.begin(), body.end(), kAttribute); a != std::sregex_iterator();
             ++a)
            attributes[(*a)[1].str()] = (*a)[2].str();
        styles.push_back(attributes);
    }
    return styles;
}

// Nine-slice drawing stretches the middle band of each edge along the edge and
// the centre both ways, so those bands must not vary in the stretched direction.
// A scroll bar's thumb keeps the bar's width and only stretches along it.
void ExpectStretchable(const Decoded& image, Rect r, const std::string& what, bool across = true,
                       bool along = true)
{
    for (int y = 0; y < image.height && across; ++y)
        for (int x = r.l + 1; x < r.r; ++x)
            ASSERT_EQ(image.Pixel(x, y), image.Pixel(r.l, y)) << what << " row " << y << " varies at x " << x;
    for (int x = 0; x < image.width && along; ++x)
        for (int y = r.t + 1; y < r.b; ++y)
            ASSERT_EQ(image.Pixel(x, y), image.Pixel(x, r.t))
                << what << " column " << x << " varies at y " << y;
}

} // namespace

// The build's files are exactly what the painter draws, and every file the
// theme names exists with its size.
TEST(SkinFilesTest, BuiltFilesMatchThePainterAndTheirSizes)
{
    std::map<std::string, std::pair<int, int>> painted;
    for (const FSkinImage& skin : PaintAllSkins()) {
        SCOPED_TRACE(skin.name);
        EXPECT_TRUE(painted.emplace(skin.name, std::pair{skin.width, skin.height}).second) << "painted twice";
        Decoded file;
        ASSERT_TRUE(Decode(skin.name, file));
        EXPECT_EQ(file.width, skin.width);
        EXPECT_EQ(file.height, skin.height);
        EXPECT_EQ(file.rgba, skin.rgba);
    }
    const struct {
        const char* name;
        int w, h;
    } sizes[] = {
        {"btn_n.png", 24, 24},
        {"btn_default_p.png", 24, 24},
        {"tbtn_d.png", 32, 32},
        {"tb_mark_on.png", 32, 32},
        {"tb_lock_on.png", 32, 32},
        {"hdr_o.png", 24, 24},
        {"ic_camera.png", 20, 20},
        {"dlg_warn.png", 32, 32},
        {"slider_track.png", 200, 6},
        {"slider_knob_down.png", 28, 18},
        {"mode_track.png", 120, 6},
        {"mode_knob.png", 14, 14},
        {"chk_o.png", 16, 16},
        {"radio_on.png", 16, 16},
        {"sizeD_off.png", 20, 20},
        {"pd_frame.png", 40, 24},
        {"pd_btn_d.png", 20, 24},
        {"sb_b_p.png", 14, 14},
        {"sb_thumb.png", 14, 20},
        {"sb_knurl.png", 8, 6},
        {"tree_folder_open.png", 16, 16},
        {"tree_open.png", 16, 16},
        {"thumb_S_frame.png", 104, 104},
        {"thumb_M_frame.png", 176, 176},
        {"thumb_L_frame.png", 280, 280},
        {"thumb_D_frame.png", 320, 136},
        {"thumb_D_hl.png", 324, 140},
        {"thumb_invalid.png", 64, 64},
        {"thumb_inner.png", 3, 3},
        {"state_xfer.png", 14, 14},
        {"badge_q7f.png", 28, 12},
        {"kind_tif.png", 64, 64},
        {"wheel_marker.png", 11, 11},
        {"ic_eyedropper.png", 20, 20},
        {"cur_graypick.png", 16, 16},
        {"cur_split_h.png", 16, 16},
        {"busy_strip.png", 16, 192},
        {"prog_bg.png", 300, 10},
        {"prog_fg.png", 40, 10},
        {"splash.png", 520, 300},
        {"app_icon.png", 64, 64},
        {"app_icon_16.png", 16, 16},
    };
    for (const auto& s : sizes) {
        SCOPED_TRACE(s.name);
        ASSERT_TRUE(painted.count(s.name));
        EXPECT_EQ(painted[s.name], (std::pair{s.w, s.h}));
    }
}

// Every nine-slice rectangle of the script lies inside each of its images,
// leaves corners to keep, and covers only bands that stretch cleanly.
TEST(SkinFilesTest, NineSliceRectanglesFitTheirImages)
{
    int checked = 0;
    for (const auto& style : Styles()) {
        for (const char* key : {"ScalingRect", "SliderResizeRect"}) {
            auto rectText = style.find(key);
            if (rectText == style.end())
                continue;
            // Scaling rectangles are exclusive on the right and bottom; the scroll
            // bar's resize rectangle is inclusive.
            Rect r = ParseRect(rectText->second);
            if (std::string(key) == "SliderResizeRect") {
                ++r.r;
                ++r.b;
            }
            for (const auto& [name, value] : style) {
                if (name != "File_Normal" && name != "File_MouseOver" && name != "File_Pressed" &&
                    name != "File_Disabled" && name != "File_Slider")
                    continue;
                SCOPED_TRACE(value);
                Decoded image;
                ASSERT_TRUE(Decode(value, image));
                EXPECT_GT(r.l, 0);
                EXPECT_GT(r.t, 0);
                EXPECT_LT(r.l, r.r);
                EXPECT_LT(r.t, r.b);
                EXPECT_LT(r.r, image.width);
                EXPECT_LT(r.b, image.height);
                const auto horizontal = style.find("_Horizontal");
                const bool vertical = horizontal != style.end() && horizontal->second == "false";
                const bool sideways = horizontal != style.end() && horizontal->second == "true";
                ExpectStretchable(image, r, value, !vertical, !sideways);
                if (auto label = style.find("LabelRect"); label != style.end()) {
                    const Rect l = ParseRect(label->second);
                    EXPECT_TRUE(l.l >= 0 && l.t >= 0 && l.l < l.r && l.t < l.b && l.r <= image.width &&
                                l.b <= image.height);
                }
                ++checked;
            }
        }
    }
    EXPECT_GE(checked, 13); // the three button skins and the scroll bar's thumb
}

TEST(SkinFilesTest, MarkedPixels)
{
    const struct {
        const char* name;
        int x, y;
        uint32_t rgba;
    } marks[] = {
        {"btn_n.png", 12, 12, 0x333333FF},  // control face
        {"btn_n.png", 0, 0, 0x00000000},    // rounded corner
        {"btn_p.png", 12, 0, 0x3D8FD6FF},   // pressed: accent edge
        {"tbtn_n.png", 16, 16, 0x262626FF}, // at rest: the toolbar's grey, yet opaque to clicks
        {"tb_computer_n.png", 0, 0, 0x262626FF},
        {"tb_computer_o.png", 0, 0, 0x00000000},  // the hover face has round corners
        {"tbtn_o.png", 16, 16, 0x3D3D3DFF},       // hover face
        {"chk_on.png", 2, 2, 0x3D8FD6FF},         // checked: accent
        {"slider_track.png", 100, 3, 0x707070FF}, // the zero tick
        {"slider_track.png", 50, 3, 0x333333FF},
        {"thumb_M_frame.png", 88, 88, 0x262626FF},
        {"thumb_M_hl.png", 90, 90, 0x00000000}, // the ring leaves the photo visible
        {"thumb_M_hl.png", 1, 90, 0x3D8FD6FF},
        {"thumb_inner.png", 1, 1, 0x00000000},
        {"thumb_inner.png", 0, 0, 0x0A0A0AFF},
        {"splash.png", 10, 0, 0x1E1E1EFF},
        {"splash.png", 10, 299, 0x2A2A2AFF},
    };
    for (const auto& m : marks) {
        SCOPED_TRACE(std::string(m.name) + " " + std::to_string(m.x) + "," + std::to_string(m.y));
        Decoded image;
        ASSERT_TRUE(Decode(m.name, image));
        EXPECT_EQ(image.Pixel(m.x, m.y), m.rgba);
    }
    // Cursors use three looks only: transparent, opaque white, opaque black.
    for (const char* name :
         {"cur_graypick.png", "cur_wait.png", "cur_drop_yes.png", "cur_drop_no.png", "cur_split_h.png"}) {
        SCOPED_TRACE(name);
        Decoded image;
        ASSERT_TRUE(Decode(name, image));
        std::set<uint32_t> looks;
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x)
                looks.insert(image.Pixel(x, y));
        EXPECT_EQ(looks, (std::set<uint32_t>{0x00000000, 0xFFFFFFFF, 0x000000FF}));
    }
    // A disabled toolbar button shows its icon dimmed, an enabled one bright.
    for (const char* icon : {"computer", "mark", "info"}) {
        SCOPED_TRACE(icon);
        Decoded normal, disabled;
        ASSERT_TRUE(Decode(std::string("tb_") + icon + "_n.png", normal));
        ASSERT_TRUE(Decode(std::string("tb_") + icon + "_d.png", disabled));
        uint32_t brightest[2] = {0, 0};
        for (int i = 0; i < 2; ++i) {
            const Decoded& image = i == 0 ? normal : disabled;
            for (size_t p = 0; p < image.rgba.size(); p += 4)
                for (int k = 0; k < 3; ++k)
                    brightest[i] =
                        std::max<uint32_t>(brightest[i], image.rgba[p + 3] ? image.rgba[p + k] : 0);
        }
        EXPECT_GE(brightest[0], 0xC0u);
        EXPECT_LE(brightest[1], 0x5Au);
    }
    // The spinner moves: no two frames alike.
    Decoded strip;
    ASSERT_TRUE(Decode("busy_strip.png", strip));
    std::set<std::vector<uint8_t>> frames;
    for (int f = 0; f < 12; ++f)
        frames.insert(std::vector<uint8_t>(strip.rgba.begin() + f * 16 * 16 * 4,
                                           strip.rgba.begin() + (f + 1) * 16 * 16 * 4));
    EXPECT_EQ(frames.size(), 12u);
}
