#include "SkinPainter.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

namespace
{

struct Rgba {
    uint8_t r, g, b, a;
};

constexpr Rgba Grey(int v, int a = 255)
{
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v), static_cast<uint8_t>(v),
            static_cast<uint8_t>(a)};
}

// The theme.
constexpr Rgba kDeep = Grey(0x14);
constexpr Rgba kWindow = Grey(0x1E);
constexpr Rgba kPanel = Grey(0x26);
constexpr Rgba kControl = Grey(0x33);
constexpr Rgba kHover = Grey(0x3D);
constexpr Rgba kHighlight = Grey(0x44);
constexpr Rgba kInk = Grey(0xD0);
constexpr Rgba kSecondary = Grey(0xA8);
constexpr Rgba kDisabledInk = Grey(0x6A);
constexpr Rgba kAccent = {0x3D, 0x8F, 0xD6, 255};
constexpr Rgba kDefaultFace = {0x2F, 0x6F, 0xA8, 255};
constexpr Rgba kMarkAmber = {0xE0, 0xB4, 0x3C, 255};
constexpr Rgba kTransferGreen = {0x6C, 0xBF, 0x6C, 255};
constexpr Rgba kCellFill = Grey(0x26);
constexpr Rgba kCellEdge = Grey(0x36);

using Shape = std::function<bool(double x, double y)>;

class Canvas
{
public:
    Canvas(std::string name, int w, int h)
        : m_image{std::move(name), w, h, std::vector<uint8_t>(size_t(w) * h * 4, 0)}
    {
    }

    // Paints the colour over every pixel by the share of its 4 x 4 samples inside the shape.
    void Fill(const Shape& inside, Rgba c)
    {
        for (int y = 0; y < m_image.height; ++y) {
            for (int x = 0; x < m_image.width; ++x) {
                int hits = 0;
                for (int sy = 0; sy < 4; ++sy)
                    for (int sx = 0; sx < 4; ++sx)
                        hits += inside(x + (sx + 0.5) / 4.0, y + (sy + 0.5) / 4.0) ? 1 : 0;
                if (hits)
                    Over(x, y, c, hits / 16.0);
            }
        }
    }
    void Set(int x, int y, Rgba c)
    {
        if (x < 0 || y < 0 || x >= m_image.width || y >= m_image.height)
            return;
        uint8_t* p = &m_image.rgba[(size_t(y) * m_image.width + x) * 4];
        p[0] = c.r;
        p[1] = c.g;
        p[2] = c.b;
        p[3] = c.a;
    }
    FSkinImage Take() { return std::move(m_image); }
    int W() const { return m_image.width; }
    int H() const { return m_image.height; }

private:
    void Over(int x, int y, Rgba c, double cover)
    {
        uint8_t* p = &m_image.rgba[(size_t(y) * m_image.width + x) * 4];
        const double sa = c.a / 255.0 * cover;
        const double da = p[3] / 255.0;
        const double oa = sa + da * (1 - sa);
        if (oa <= 0)
            return;
        const uint8_t src[3] = {c.r, c.g, c.b};
        for (int i = 0; i < 3; ++i)
            p[i] = static_cast<uint8_t>(std::lround((src[i] * sa + p[i] * da * (1 - sa)) / oa));
        p[3] = static_cast<uint8_t>(std::lround(oa * 255));
    }
    FSkinImage m_image;
};

// ---- shapes -----------------------------------------------------------------------------------

Shape RoundRect(double x0, double y0, double x1, double y1, double r)
{
    return [=](double x, double y) {
        if (x < x0 || x > x1 || y < y0 || y > y1)
            return false;
        const double cx = std::clamp(x, x0 + r, x1 - r);
        const double cy = std::clamp(y, y0 + r, y1 - r);
        return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
    };
}

Shape Minus(Shape a, Shape b)
{
    return [=](double x, double y) { return a(x, y) && !b(x, y); };
}

Shape Union(std::vector<Shape> parts)
{
    return [=](double x, double y) {
        return std::any_of(parts.begin(), parts.end(), [&](const Shape& s) { return s(x, y); });
    };
}

Shape Ring(double x0, double y0, double x1, double y1, double r, double t)
{
    return Minus(RoundRect(x0, y0, x1, y1, r),
                 RoundRect(x0 + t, y0 + t, x1 - t, y1 - t, std::max(0.0, r - t)));
}

Shape Disc(double cx, double cy, double r)
{
    return [=](double x, double y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r; };
}

Shape Circle(double cx, double cy, double r, double t)
{
    return Minus(Disc(cx, cy, r + t / 2), Disc(cx, cy, r - t / 2));
}

Shape Segment(double ax, double ay, double bx, double by, double t)
{
    return [=](double x, double y) {
        const double dx = bx - ax, dy = by - ay;
        const double len2 = dx * dx + dy * dy;
        double u = len2 > 0 ? ((x - ax) * dx + (y - ay) * dy) / len2 : 0;
        u = std::clamp(u, 0.0, 1.0);
        const double px = ax + u * dx - x, py = ay + u * dy - y;
        return px * px + py * py <= t * t / 4;
    };
}

Shape Polyline(std::vector<std::pair<double, double>> pts, double t)
{
    std::vector<Shape> parts;
    for (size_t i = 1; i < pts.size(); ++i)
        parts.push_back(Segment(pts[i - 1].first, pts[i - 1].second, pts[i].first, pts[i].second, t));
    return Union(parts);
}

Shape Polygon(std::vector<std::pair<double, double>> pts)
{
    return [=](double x, double y) {
        bool in = false;
        for (size_t i = 0, j = pts.size() - 1; i < pts.size(); j = i++) {
            const auto [xi, yi] = pts[i];
            const auto [xj, yj] = pts[j];
            if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi)
                in = !in;
        }
        return in;
    };
}

// An arc of a circle from angle a0 to a1 (degrees, clockwise from east on screen).
Shape Arc(double cx, double cy, double r, double t, double a0, double a1)
{
    return [=](double x, double y) {
        const double d = std::hypot(x - cx, y - cy);
        if (std::fabs(d - r) > t / 2)
            return false;
        double a = std::atan2(y - cy, x - cx) * 180 / M_PI;
        if (a < 0)
            a += 360;
        return a0 <= a1 ? (a >= a0 && a <= a1) : (a >= a0 || a <= a1);
    };
}

Shape Scaled(Shape s, double k)
{
    return [=](double x, double y) { return s(x / k, y / k); };
}

// ---- a 5 x 7 pixel font for badge letters -----------------------------------------------------

const char* Glyph(char c)
{
    switch (c) {
    case 'Q':
        return "01110100011000110001101011001001101";
    case '7':
        return "11111000010001000100010000100001000";
    case 'F':
        return "11111100001000011110100001000010000";
    case 'J':
        return "00111000100001000010100101001001100";
    case 'P':
        return "11110100011000111110100001000010000";
    case 'G':
        return "01110100011000010111100011000101111";
    case 'T':
        return "11111001000010000100001000010000100";
    case 'I':
        return "01110001000010000100001000010001110";
    default:
        return "00000000000000000000000000000000000";
    }
}

void Letters(Canvas& c, const std::string& text, int x, int y, Rgba ink)
{
    for (char ch : text) {
        const char* g = Glyph(ch);
        for (int row = 0; row < 7; ++row)
            for (int col = 0; col < 5; ++col)
                if (g[row * 5 + col] == '1')
                    c.Set(x + col, y + row, ink);
        x += 6;
    }
}

// ---- skins ------------------------------------------------------------------------------------

std::vector<FSkinImage> g_out;

void Emit(Canvas& c)
{
    g_out.push_back(c.Take());
}

// A push button face with a border and, when raised, a top highlight.
void Button(const std::string& name, int size, Rgba face, Rgba border, bool highlight)
{
    Canvas c(name, size, size);
    const double s = size;
    c.Fill(RoundRect(0, 0, s, s, 4), face);
    c.Fill(Ring(0, 0, s, s, 4, 1), border);
    if (highlight)
        c.Fill(Segment(4, 1.5, s - 4, 1.5, 1), kHighlight);
    Emit(c);
}

void Buttons()
{
    Button("btn_n.png", 24, kControl, kDeep, true);
    Button("btn_o.png", 24, kHover, kDeep, true);
    Button("btn_p.png", 24, kPanel, kAccent, false);
    Button("btn_d.png", 24, Grey(0x2A), kDeep, false);
    Button("btn_default_n.png", 24, kDefaultFace, kDeep, true);
    Button("btn_default_o.png", 24, {0x3A, 0x7E, 0xBA, 255}, kDeep, true);
    Button("btn_default_p.png", 24, {0x28, 0x5E, 0x90, 255}, kAccent, false);
    Button("btn_default_d.png", 24, Grey(0x2A), kDeep, false);
    // The toolbar button shows no face until the pointer is over it: at rest
    // it is the toolbar's grey, opaque, so that the whole button takes clicks.
    Button("tbtn_n.png", 32, kPanel, kPanel, false);
    Button("tbtn_o.png", 32, kHover, Grey(0x4A), false);
    Button("tbtn_p.png", 32, kPanel, kAccent, false);
    Button("tbtn_d.png", 32, kPanel, kPanel, false);
    for (const auto& [name, face] :
         {std::pair{"hdr_n.png", kPanel}, {"hdr_o.png", kHover}, {"hdr_p.png", kControl}}) {
        Canvas c(name, 24, 24);
        c.Fill(RoundRect(0, 0, 24, 24, 0), face);
        c.Fill(Segment(0, 23.5, 24, 23.5, 1), kDeep);
        Emit(c);
    }
}

Shape Shifted(Shape s, double dx, double dy)
{
    return [=](double x, double y) { return s(x - dx, y - dy); };
}

// Toolbar buttons carry their icon in the skin, so that a disabled button
// shows a dimmed icon: face and icon for normal, pointer over, pressed and
// disabled.
void ToolbarButtons(const std::string& icon, const Shape& art, Rgba ink)
{
    const Shape placed = Shifted(art, 6, 6);
    struct Look {
        const char* suffix;
        Rgba face, border, ink;
        bool clear;
    };
    // At rest the face is the toolbar's own grey, opaque, so that a click
    // between the icon's strokes still hits the button.
    const Look looks[] = {{"n", kPanel, kPanel, ink, true},
                          {"o", kHover, Grey(0x4A), ink, false},
                          {"p", kPanel, kAccent, ink, false},
                          {"d", kPanel, kPanel, Grey(0x5A), true}};
    for (const Look& look : looks) {
        Canvas c("tb_" + icon + "_" + look.suffix + ".png", 32, 32);
        if (look.clear) {
            c.Fill(RoundRect(0, 0, 32, 32, 0), look.face);
        } else {
            c.Fill(RoundRect(0, 0, 32, 32, 4), look.face);
            c.Fill(Ring(0, 0, 32, 32, 4, 1), look.border);
        }
        c.Fill(placed, look.ink);
        Emit(c);
    }
}

// The lit look of a state button: the accent's face and border, the icon in its own colour.
void ToolbarStateOn(const std::string& icon, const Shape& art, Rgba ink)
{
    const Shape placed = Shifted(art, 6, 6);
    Canvas c("tb_" + icon + "_on.png", 32, 32);
    c.Fill(RoundRect(0, 0, 32, 32, 0), kPanel);
    c.Fill(RoundRect(0, 0, 32, 32, 4), kDefaultFace);
    c.Fill(Ring(0, 0, 32, 32, 4, 1), kAccent);
    c.Fill(placed, ink);
    Emit(c);
}

// Icons on a 20 px grid; line art 1.5 px wide. Those named in the toolbar
// also get their button skins.
void Icon(const std::string& name, const Shape& art, Rgba ink = kInk, int size = 20)
{
    Canvas c(name, size, size);
    c.Fill(size == 20 ? art : Scaled(art, size / 20.0), ink);
    Emit(c);
    static const char* const kToolbar[] = {
        "computer", "camera",   "rotate_ccw", "rotate_cw", "mark", "lock",  "trash",      "review", "wb",
        "save",     "download", "info",       "prev",      "next", "loupe", "eyedropper", "palette"};
    // Buttons that show a state of the image: grey while it is off, lit while it is on.
    static const char* const kStateTools[] = {"mark", "lock"};
    for (const char* tool : kToolbar) {
        if (name != std::string("ic_") + tool + ".png")
            continue;
        const bool state = std::find_if(std::begin(kStateTools), std::end(kStateTools), [&](const char* s) {
                               return std::string(s) == tool;
                           }) != std::end(kStateTools);
        ToolbarButtons(tool, art, state ? kInk : ink);
        // The flag lights in its own amber; the padlock in white.
        if (state)
            ToolbarStateOn(tool, art, std::string(tool) == "mark" ? ink : Grey(0xFF));
    }
}

void Icons()
{
    const double t = 1.5;
    Icon("ic_computer.png",
         Union({Ring(2, 3, 18, 14, 1.5, t), Segment(10, 14, 10, 17, t), Segment(6, 17.25, 14, 17.25, t)}));
    Icon("ic_camera.png", Union({Ring(2, 6, 18, 17, 2, t), Circle(10, 11.5, 3.2, t),
                                 Polyline({{6, 6}, {7.5, 3.5}, {12.5, 3.5}, {14, 6}}, t)}));
    Icon("ic_rotate_ccw.png", Union({Arc(10, 11, 6, t, 200, 90), Polygon({{1.5, 8}, {7.5, 7}, {4, 12.5}})}));
    Icon("ic_rotate_cw.png",
         Union({Arc(10, 11, 6, t, 90, 340), Polygon({{18.5, 8}, {12.5, 7}, {16, 12.5}})}));
    Icon("ic_mark.png", Union({Segment(5, 2.5, 5, 18, t), Polygon({{5.5, 3}, {16, 5.5}, {5.5, 10}})}),
         kMarkAmber);
    Icon("ic_lock.png", Union({RoundRect(4, 9, 16, 18, 1.5), Arc(10, 8.5, 4, t, 180, 360),
                               Segment(6, 8.5, 6, 9.5, t), Segment(14, 8.5, 14, 9.5, t)}));
    Icon("ic_trash.png",
         Union({Segment(3, 5, 17, 5, t), Polyline({{7.5, 4.5}, {8.5, 2.5}, {11.5, 2.5}, {12.5, 4.5}}, t),
                Polyline({{5, 6}, {6, 18}, {14, 18}, {15, 6}}, t), Segment(8.5, 8, 8.5, 15.5, 1),
                Segment(11.5, 8, 11.5, 15.5, 1)}));
    Icon("ic_review.png",
         Union({Ring(2, 3, 18, 17, 1.5, t), Polygon({{4, 15}, {9, 9}, {12, 12}, {14, 10}, {16.5, 15}}),
                Disc(13.5, 6.5, 1.5)}));
    {
        std::vector<Shape> sun = {Circle(10, 10, 3.5, t)};
        for (int k = 0; k < 8; ++k) {
            const double a = k * M_PI / 4;
            sun.push_back(Segment(10 + 6 * std::cos(a), 10 + 6 * std::sin(a), 10 + 8.5 * std::cos(a),
                                  10 + 8.5 * std::sin(a), t));
        }
        Icon("ic_wb.png", Union(sun));
    }
    Icon("ic_save.png", Union({Segment(10, 2, 10, 12, t), Polyline({{6, 8.5}, {10, 12.5}, {14, 8.5}}, t),
                               Polyline({{3, 12}, {3, 17}, {17, 17}, {17, 12}}, t)}));
    Icon("ic_download.png", Union({Ring(2, 2, 12, 9, 1.5, t), Segment(13, 9, 13, 17, t),
                                   Polyline({{9.5, 14}, {13, 17.5}, {16.5, 14}}, t)}));
    Icon("ic_prev.png", Polyline({{12.5, 4}, {6.5, 10}, {12.5, 16}}, 2));
    Icon("ic_next.png", Polyline({{7.5, 4}, {13.5, 10}, {7.5, 16}}, 2));
    Icon("ic_loupe.png", Union({Circle(8.5, 8.5, 5, t), Segment(12.3, 12.3, 17.5, 17.5, 2.2)}));
    Icon("ic_minus.png", Segment(4, 10, 16, 10, 2));
    Icon("ic_plus.png", Union({Segment(4, 10, 16, 10, 2), Segment(10, 4, 10, 16, 2)}));
    Icon("ic_eyedropper.png",
         Union({Segment(4, 16, 12, 8, 2.2), Polygon({{11, 5}, {15, 9}, {17.5, 6.5}, {13.5, 2.5}})}));
    Icon("ic_warning.png",
         Union({Minus(Polygon({{10, 2}, {18.5, 17}, {1.5, 17}}), Polygon({{10, 5}, {16, 15.5}, {4, 15.5}})),
                Segment(10, 8, 10, 12, t), Disc(10, 14, 0.9)}));
    Icon("ic_palette.png",
         Union({Segment(3, 5, 17, 5, 1), Segment(3, 10, 17, 10, 1), Segment(3, 15, 17, 15, 1), Disc(7, 5, 2),
                Disc(13, 10, 2), Disc(9, 15, 2)}));
    Icon("ic_info.png", Union({Circle(10, 10, 7.5, t), Segment(10, 9, 10, 14.5, 1.8), Disc(10, 6, 1.1)}));
    Icon("ic_copy.png", Union({Ring(2, 2, 13, 13, 1.5, t), Ring(7, 7, 18, 18, 1.5, t)}));
    // Dialog icons.
    Icon("dlg_info.png", Minus(Disc(10, 10, 9.5), Union({Segment(10, 8.5, 10, 15, 2.2), Disc(10, 5.5, 1.3)})),
         kAccent, 32);
    Icon("dlg_warn.png",
         Minus(Polygon({{10, 1}, {19.5, 18}, {0.5, 18}}),
               Union({Segment(10, 7, 10, 12.5, 2), Disc(10, 15, 1.1)})),
         kMarkAmber, 32);
}

void Controls()
{
    // Sliders: the track has a lighter zero tick in the middle.
    {
        Canvas c("slider_track.png", 200, 6);
        c.Fill(RoundRect(0, 0, 200, 6, 3), kDeep);
        c.Fill(RoundRect(1, 1, 199, 5, 2), kControl);
        c.Fill(Segment(100.5, 1, 100.5, 5, 1), Grey(0x70));
        Emit(c);
    }
    for (const auto& [name, edge] :
         {std::pair{"slider_knob.png", Grey(0x70)}, {"slider_knob_down.png", kAccent}}) {
        Canvas c(name, 28, 18);
        c.Fill(RoundRect(0, 0, 28, 18, 4), edge);
        c.Fill(RoundRect(1, 1, 27, 17, 3), Grey(0x5A));
        Emit(c);
    }
    {
        Canvas c("mode_track.png", 120, 6);
        c.Fill(RoundRect(0, 0, 120, 6, 3), kDeep);
        c.Fill(RoundRect(1, 1, 119, 5, 2), kControl);
        for (double x : {0.5, 60.5, 119.5})
            c.Fill(Segment(x, 0, x, 6, 1), Grey(0x70));
        Emit(c);
    }
    for (const auto& [name, edge] :
         {std::pair{"mode_knob.png", Grey(0x70)}, {"mode_knob_down.png", kAccent}}) {
        Canvas c(name, 14, 14);
        c.Fill(Disc(7, 7, 7), edge);
        c.Fill(Disc(7, 7, 6), Grey(0x5A));
        Emit(c);
    }
    // Check boxes and radio buttons: on, off, disabled, pointer over.
    const Shape tick = Polyline({{4, 8}, {7, 11}, {12, 5}}, 2);
    for (bool round : {false, true}) {
        const std::string base = round ? "radio_" : "chk_";
        const Shape outer = round ? Disc(8, 8, 7.5) : RoundRect(0.5, 0.5, 15.5, 15.5, 2);
        const Shape inner = round ? Disc(8, 8, 6.5) : RoundRect(1.5, 1.5, 14.5, 14.5, 1.5);
        struct Look {
            const char* suffix;
            Rgba border, face;
            bool on;
        };
        for (const Look& look :
             {Look{"on", kAccent, kAccent, true}, Look{"off", Grey(0x70), Grey(0x2A), false},
              Look{"d", Grey(0x4A), Grey(0x26), false}, Look{"o", Grey(0x90), Grey(0x33), false}}) {
            Canvas c(base + look.suffix + ".png", 16, 16);
            c.Fill(outer, look.border);
            c.Fill(inner, look.face);
            if (look.on)
                c.Fill(round ? Disc(8, 8, 3) : tick, Grey(0xFF));
            Emit(c);
        }
    }
    // Thumbnail size glyphs: denser grids for smaller cells.
    const std::pair<const char*, int> sizes[] = {{"S", 3}, {"M", 2}, {"L", 1}};
    for (const auto& [letter, n] : sizes) {
        for (bool on : {true, false}) {
            std::vector<Shape> cells;
            const double cell = 16.0 / n;
            for (int i = 0; i < n; ++i)
                for (int j = 0; j < n; ++j)
                    cells.push_back(RoundRect(2 + i * cell + 0.75, 2 + j * cell + 0.75,
                                              2 + (i + 1) * cell - 0.75, 2 + (j + 1) * cell - 0.75, 1));
            Icon(std::string("size") + letter + (on ? "_on.png" : "_off.png"), Union(cells),
                 on ? kAccent : kSecondary);
        }
    }
    for (bool on : {true, false}) {
        std::vector<Shape> rows;
        for (int i = 0; i < 3; ++i) {
            rows.push_back(RoundRect(2, 2.5 + i * 5.5, 7, 6.5 + i * 5.5, 0.5));
            rows.push_back(Segment(9, 4.5 + i * 5.5, 18, 4.5 + i * 5.5, 1.2));
        }
        Icon(std::string("sizeD") + (on ? "_on.png" : "_off.png"), Union(rows), on ? kAccent : kSecondary);
    }
    // Pull-down field and its button.
    {
        Canvas c("pd_frame.png", 40, 24);
        c.Fill(RoundRect(0, 0, 40, 24, 3), kDeep);
        c.Fill(RoundRect(1, 1, 39, 23, 2), kControl);
        Emit(c);
    }
    for (const auto& [name, face] : {std::pair{"pd_btn_n.png", kControl},
                                     {"pd_btn_o.png", kHover},
                                     {"pd_btn_p.png", kPanel},
                                     {"pd_btn_d.png", Grey(0x2A)}}) {
        Canvas c(name, 20, 24);
        c.Fill(RoundRect(0, 0, 20, 24, 2), face);
        c.Fill(Polygon({{6, 10}, {14, 10}, {10, 15}}), face.r == 0x2A ? kDisabledInk : kInk);
        Emit(c);
    }
    // Scroll bars.
    for (const auto& [name, up, pressed] : {std::tuple{"sb_a_n.png", true, false},
                                            {"sb_a_p.png", true, true},
                                            {"sb_b_n.png", false, false},
                                            {"sb_b_p.png", false, true}}) {
        Canvas c(name, 14, 14);
        c.Fill(RoundRect(0, 0, 14, 14, 0), pressed ? kHover : kPanel);
        c.Fill(up ? Polygon({{3.5, 9}, {10.5, 9}, {7, 4.5}}) : Polygon({{3.5, 5}, {10.5, 5}, {7, 9.5}}),
               kSecondary);
        Emit(c);
    }
    {
        Canvas c("sb_thumb.png", 14, 20);
        c.Fill(RoundRect(2, 0, 12, 20, 4), Grey(0x4A));
        Emit(c);
    }
    {
        Canvas c("sb_knurl.png", 8, 6);
        for (double y : {0.5, 2.5, 4.5})
            c.Fill(Segment(0, y, 8, y, 1), kDisabledInk);
        Emit(c);
    }
}

void TreeIcons()
{
    const double t = 1.2;
    auto icon16 = [](const std::string& name, const Shape& art, Rgba ink) {
        Canvas c(name, 16, 16);
        c.Fill(art, ink);
        Emit(c);
    };
    icon16("tree_disk.png", Union({Ring(1.5, 4.5, 14.5, 11.5, 1.5, t), Disc(11.5, 8, 1)}), kSecondary);
    icon16("tree_removable.png", Union({Ring(3.5, 1.5, 12.5, 14.5, 1.5, t), Segment(6, 4, 10, 4, t)}),
           kSecondary);
    icon16("tree_cd.png", Union({Circle(8, 8, 6.2, t), Disc(8, 8, 1.5)}), kSecondary);
    icon16("tree_folder.png", Polygon({{1, 3}, {6, 3}, {7.5, 5}, {15, 5}, {15, 13.5}, {1, 13.5}}),
           Grey(0x9A));
    icon16("tree_folder_open.png",
           Union({Polygon({{1, 3}, {6, 3}, {7.5, 5}, {13, 5}, {13, 7}, {1, 7}}),
                  Polygon({{3, 7.5}, {15.5, 7.5}, {13, 13.5}, {1, 13.5}})}),
           kAccent);
    icon16("tree_closed.png", Polygon({{6, 4}, {11, 8}, {6, 12}}), kSecondary);
    icon16("tree_open.png", Polygon({{4, 6}, {12, 6}, {8, 11}}), kSecondary);
}

void Thumbnails()
{
    const struct {
        const char* mode;
        int w, h;
    } frames[] = {{"S", 104, 104}, {"M", 176, 176}, {"L", 280, 280}, {"D", 320, 136}};
    for (const auto& f : frames) {
        {
            Canvas c(std::string("thumb_") + f.mode + "_frame.png", f.w, f.h);
            c.Fill(RoundRect(0, 0, f.w, f.h, 4), kCellEdge);
            c.Fill(RoundRect(1, 1, f.w - 1, f.h - 1, 3), kCellFill);
            Emit(c);
        }
        {
            Canvas c(std::string("thumb_") + f.mode + "_hl.png", f.w + 4, f.h + 4);
            c.Fill(Ring(0, 0, f.w + 4, f.h + 4, 6, 3), kAccent);
            Emit(c);
        }
    }
    {
        Canvas c("thumb_invalid.png", 64, 64);
        c.Fill(Ring(4, 4, 60, 60, 6, 2), Grey(0x60));
        c.Fill(Union({Segment(20, 20, 44, 44, 3), Segment(44, 20, 20, 44, 3)}), Grey(0x60));
        Emit(c);
    }
    {
        Canvas c("thumb_inner.png", 3, 3);
        for (int i = 0; i < 9; ++i)
            if (i != 4)
                c.Set(i % 3, i / 3, Grey(0x0A));
        Emit(c);
    }
    auto state = [](const std::string& name, const Shape& art, Rgba ink) {
        Canvas c(name, 14, 14);
        c.Fill(art, ink);
        Emit(c);
    };
    state("state_mark.png", Union({Segment(3.5, 1.5, 3.5, 13, 1.5), Polygon({{4, 2}, {12, 4}, {4, 7.5}})}),
          kMarkAmber);
    state("state_lock.png", Union({RoundRect(2.5, 6.5, 11.5, 13, 1), Arc(7, 6.5, 3, 1.4, 180, 360)}),
          Grey(0xD0));
    state("state_xfer.png", Union({Polyline({{2, 7.5}, {5.5, 11}, {12, 3.5}}, 2)}), kTransferGreen);
    for (const auto& [kind, text] : {std::pair{"q7f", "Q7F"}, {"jpg", "JPG"}, {"tif", "TIF"}}) {
        {
            Canvas c(std::string("badge_") + kind + ".png", 28, 12);
            c.Fill(RoundRect(0, 0, 28, 12, 2), kHover);
            Letters(c, text, 6, 2, Grey(0xE6));
            Emit(c);
        }
        {
            Canvas c(std::string("kind_") + kind + ".png", 64, 64);
            c.Fill(Polygon({{14, 6}, {40, 6}, {50, 16}, {50, 58}, {14, 58}}), Grey(0x5A));
            c.Fill(Polygon({{40, 6}, {50, 16}, {40, 16}}), Grey(0x80));
            c.Fill(RoundRect(18, 36, 46, 48, 2), kHover);
            Letters(c, text, 24, 38, Grey(0xE6));
            Emit(c);
        }
    }
    {
        Canvas c("wheel_marker.png", 11, 11);
        c.Fill(Circle(5.5, 5.5, 4, 2.5), Grey(0));
        c.Fill(Circle(5.5, 5.5, 4, 1.2), Grey(0xFF));
        Emit(c);
    }
}

// Cursors are tri-state: opaque green over 128 is white, other opaque pixels
// black, the rest transparent.
void Cursor(const std::string& name, const Shape& white, const Shape& black)
{
    Canvas c(name, 16, 16);
    const Rgba outline = {0, 0, 0, 255};
    const Rgba fill = {255, 255, 255, 255};
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            if (white(x + 0.5, y + 0.5))
                c.Set(x, y, fill);
            else if (black(x + 0.5, y + 0.5))
                c.Set(x, y, outline);
        }
    Emit(c);
}

void Cursors()
{
    auto grown = [](Shape s) {
        return [s](double x, double y) {
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    if (s(x + dx, y + dy))
                        return true;
            return false;
        };
    };
    const Shape dropper =
        Union({Segment(3, 12, 9, 6, 2), Polygon({{8.5, 3.5}, {12, 7}, {14, 5}, {10.5, 1.5}})});
    Cursor("cur_graypick.png", dropper, grown(dropper));
    const Shape hourglass = Union({Polygon({{4, 2}, {12, 2}, {8, 8}}), Polygon({{8, 8}, {12, 14}, {4, 14}})});
    Cursor("cur_wait.png", hourglass, grown(hourglass));
    const Shape arrow = Polygon({{1, 1}, {1, 12}, {4, 9}, {6.5, 14}, {8.5, 13}, {6, 8}, {10, 8}});
    Cursor("cur_drop_yes.png", Union({arrow, Segment(11, 12, 15, 12, 1.5), Segment(13, 10, 13, 14, 1.5)}),
           grown(Union({arrow, Segment(11, 12, 15, 12, 1.5), Segment(13, 10, 13, 14, 1.5)})));
    const Shape no = Union({Circle(8, 8, 5, 2), Segment(4.5, 11.5, 11.5, 4.5, 2)});
    Cursor("cur_drop_no.png", no, grown(no));
    const Shape split = Union({Segment(7.5, 2, 7.5, 14, 1), Polygon({{1, 8}, {5, 4.5}, {5, 11.5}}),
                               Polygon({{15, 8}, {11, 4.5}, {11, 11.5}})});
    Cursor("cur_split_h.png", split, grown(split));
}

void Pictures()
{
    // A spinner of twelve frames, one under the other; the bright spoke moves on.
    {
        Canvas c("busy_strip.png", 16, 192);
        for (int f = 0; f < 12; ++f)
            for (int k = 0; k < 12; ++k) {
                const double a = (k * 30 - 90) * M_PI / 180;
                const int age = (k - f + 12) % 12;
                const int level = 0x40 + (11 - age) * 0x10;
                c.Fill(Segment(8 + 3.5 * std::cos(a), f * 16 + 8 + 3.5 * std::sin(a), 8 + 6.5 * std::cos(a),
                               f * 16 + 8 + 6.5 * std::sin(a), 1.6),
                       Grey(std::min(level, 0xF0)));
            }
        Emit(c);
    }
    {
        Canvas c("prog_bg.png", 300, 10);
        c.Fill(RoundRect(0, 0, 300, 10, 3), kDeep);
        c.Fill(RoundRect(1, 1, 299, 9, 2), kControl);
        Emit(c);
    }
    {
        Canvas c("prog_fg.png", 40, 10);
        c.Fill(RoundRect(0, 0, 40, 10, 3), kAccent);
        Emit(c);
    }
    // The aperture: six blades around an open hexagon.
    auto aperture = [](double cx, double cy, double r) {
        std::vector<Shape> blades;
        for (int k = 0; k < 6; ++k) {
            const double a0 = k * M_PI / 3, a1 = a0 + M_PI / 3;
            blades.push_back(
                Polygon({{cx + r * std::cos(a0), cy + r * std::sin(a0)},
                         {cx + r * std::cos(a1), cy + r * std::sin(a1)},
                         {cx + 0.45 * r * std::cos(a1 + 0.5), cy + 0.45 * r * std::sin(a1 + 0.5)},
                         {cx + 0.45 * r * std::cos(a0 + 0.5), cy + 0.45 * r * std::sin(a0 + 0.5)}}));
        }
        return Union(blades);
    };
    {
        Canvas c("splash.png", 520, 300);
        for (int y = 0; y < 300; ++y)
            for (int x = 0; x < 520; ++x)
                c.Set(x, y, Grey(0x1E + (0x2A - 0x1E) * y / 299));
        c.Fill(aperture(420, 150, 110), kHover);
        Emit(c);
    }
    for (int size : {64, 32, 16}) {
        Canvas c(size == 64 ? "app_icon.png" : "app_icon_" + std::to_string(size) + ".png", size, size);
        const double s = size;
        c.Fill(RoundRect(0, 0, s, s, s / 6), kAccent);
        c.Fill(aperture(s / 2, s / 2, s * 0.42), Grey(0xF0));
        Emit(c);
    }
}

} // namespace

uint32_t FSkinImage::Pixel(int x, int y) const
{
    const uint8_t* p = &rgba[(size_t(y) * width + x) * 4];
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

std::vector<FSkinImage> PaintAllSkins()
{
    g_out.clear();
    Buttons();
    Icons();
    Controls();
    TreeIcons();
    Thumbnails();
    Cursors();
    Pictures();
    return std::move(g_out);
}

bool WriteSkinPng(const std::string& path, const FSkinImage& image)
{
    png_image out{};
    out.version = PNG_IMAGE_VERSION;
    out.width = static_cast<png_uint_32>(image.width);
    out.height = static_cast<png_uint_32>(image.height);
    out.format = PNG_FORMAT_RGBA;
    return png_image_write_to_file(&out, path.c_str(), 0, image.rgba.data(), 0, nullptr) != 0;
}
