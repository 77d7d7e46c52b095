#include "FFreeTypeTextLayer.h"

#include "FUiPixmapLimits.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <unordered_map>

namespace
{

// Sizes beyond this are refused: a script's height must not make the rasteriser
// allocate without bound.
constexpr int kMaxFontHeight = 2048;
// Rendered glyphs kept per font; a text of more distinct characters starts the cache anew.
constexpr size_t kMaxCachedGlyphs = 4096;
// Matched fonts kept; a user interface uses a handful, so more means sizes computed on the
// fly, and the list starts anew.
constexpr size_t kMaxMatches = 64;

int CeilPixels(FT_Pos value)
{
    return static_cast<int>((value + 63) >> 6);
}

int RoundPixels(FT_Pos value)
{
    return static_cast<int>((value + 32) >> 6);
}

} // namespace

struct FFreeTypeTextLayer::Library {
    FT_Library library = nullptr;
};

struct FFreeTypeTextLayer::Face {
    FT_Face face = nullptr;
    int sizedHeight = 0;
    ~Face()
    {
        if (face != nullptr)
            FT_Done_Face(face);
    }
};

struct FFreeTypeTextLayer::Candidate {
    std::string file;
    int index = 0;
    FcCharSet* charset = nullptr;
    bool embolden = false;
    bool transformed = false;
    FT_Matrix matrix{};
    Face* face = nullptr; // found on first use
    bool faceTried = false;
};

struct FFreeTypeTextLayer::Match {
    int height = 0;
    int ascent = 0; // baseline from the top of the line
    std::vector<Candidate> candidates;
    std::unordered_map<char32_t, size_t> candidateOf;
    std::unordered_map<char32_t, Glyph> glyphs;
    ~Match()
    {
        for (Candidate& c : candidates) {
            if (c.charset != nullptr)
                FcCharSetDestroy(c.charset);
        }
    }
};

// A glyph as drawn: its advance and, once rendered, its coverage.
struct FFreeTypeTextLayer::Glyph {
    int advance = 0;
    bool rendered = false;
    int left = 0;
    int top = 0;
    int width = 0;
    int rows = 0;
    std::vector<uint8_t> coverage;
};

namespace
{

// Fontconfig is process-wide: the last layer to go releases it, so that nothing of it
// outlives the text layers.
int g_liveLayers = 0;

} // namespace

FFreeTypeTextLayer::FFreeTypeTextLayer() : m_pLibrary(std::make_unique<Library>())
{
    if (FT_Init_FreeType(&m_pLibrary->library) != 0)
        m_pLibrary->library = nullptr;
    if (g_liveLayers++ == 0)
        FcInit();
}

FFreeTypeTextLayer::~FFreeTypeTextLayer()
{
    m_matches.clear();
    m_faces.clear();
    if (m_pLibrary->library != nullptr)
        FT_Done_FreeType(m_pLibrary->library);
    if (--g_liveLayers == 0)
        FcFini();
}

FFreeTypeTextLayer::Match* FFreeTypeTextLayer::priMatch(const FOsFont& font)
{
    if (m_pLibrary->library == nullptr || font.height <= 0 || font.height > kMaxFontHeight)
        return nullptr;
    for (auto& [key, match] : m_matches) {
        if (key == font)
            return match.get();
    }
    if (m_matches.size() >= kMaxMatches)
        m_matches.clear();
    FcPattern* pattern = FcPatternCreate();
    if (pattern == nullptr)
        return nullptr;
    if (!font.family.empty())
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(font.family.c_str()));
    if (!font.language.empty())
        FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>(font.language.c_str()));
    FcPatternAddInteger(pattern, FC_WEIGHT, font.weight >= 600 ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, font.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddDouble(pattern, FC_PIXEL_SIZE, font.height);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcFontSet* set = FcFontSort(nullptr, pattern, FcTrue, nullptr, &result);
    auto match = std::make_unique<Match>();
    match->height = font.height;
    for (int i = 0; set != nullptr && i < set->nfont; ++i) {
        FcPattern* prepared = FcFontRenderPrepare(nullptr, pattern, set->fonts[i]);
        if (prepared == nullptr)
            continue;
        FcChar8* file = nullptr;
        FcCharSet* charset = nullptr;
        if (FcPatternGetString(prepared, FC_FILE, 0, &file) == FcResultMatch &&
            FcPatternGetCharSet(set->fonts[i], FC_CHARSET, 0, &charset) == FcResultMatch) {
            Candidate c;
            c.file = reinterpret_cast<const char*>(file);
            FcPatternGetInteger(prepared, FC_INDEX, 0, &c.index);
            FcBool embolden = FcFalse;
            if (FcPatternGetBool(prepared, FC_EMBOLDEN, 0, &embolden) == FcResultMatch)
                c.embolden = embolden == FcTrue;
            FcMatrix* m = nullptr;
            if (FcPatternGetMatrix(prepared, FC_MATRIX, 0, &m) == FcResultMatch && m != nullptr &&
                (m->xx != 1 || m->xy != 0 || m->yx != 0 || m->yy != 1)) {
                c.transformed = true;
                c.matrix.xx = static_cast<FT_Fixed>(m->xx * 65536.0);
                c.matrix.xy = static_cast<FT_Fixed>(m->xy * 65536.0);
                c.matrix.yx = static_cast<FT_Fixed>(m->yx * 65536.0);
                c.matrix.yy = static_cast<FT_Fixed>(m->yy * 65536.0);
            }
            c.charset = FcCharSetCopy(charset);
            match->candidates.push_back(std::move(c));
        }
        FcPatternDestroy(prepared);
    }
    if (set != nullptr)
        FcFontSetDestroy(set);
    FcPatternDestroy(pattern);
    Face* primary = match->candidates.empty() ? nullptr : priSizedFace(*match, 0);
    if (primary == nullptr)
        return nullptr;
    // The line is exactly the cell height asked for; the baseline divides it as the
    // font's own ascent and descent do.
    const FT_Face f = primary->face;
    if (FT_IS_SCALABLE(f) && f->ascender - f->descender > 0)
        match->ascent =
            static_cast<int>((int64_t(font.height) * f->ascender * 2 + (f->ascender - f->descender)) /
                             (2 * int64_t(f->ascender - f->descender)));
    else
        match->ascent = std::min(font.height, CeilPixels(f->size->metrics.ascender));
    m_matches.emplace_back(font, std::move(match));
    return m_matches.back().second.get();
}

FFreeTypeTextLayer::Face* FFreeTypeTextLayer::priFace(const Candidate& candidate)
{
    const auto key = std::make_pair(candidate.file, candidate.index);
    auto found = m_faces.find(key);
    if (found != m_faces.end())
        return found->second.get();
    auto face = std::make_unique<Face>();
    if (FT_New_Face(m_pLibrary->library, candidate.file.c_str(), candidate.index, &face->face) != 0) {
        face->face = nullptr;
        return nullptr;
    }
    return m_faces.emplace(key, std::move(face)).first->second.get();
}

FFreeTypeTextLayer::Face* FFreeTypeTextLayer::priSizedFace(Match& match, size_t index)
{
    Candidate& c = match.candidates[index];
    if (!c.faceTried) {
        c.faceTried = true;
        c.face = priFace(c);
    }
    Face* face = c.face;
    if (face == nullptr)
        return nullptr;
    if (face->sizedHeight != match.height) {
        // The height is a cell height: ascent plus descent, not the em size.
        FT_Size_RequestRec request{};
        request.type = FT_SIZE_REQUEST_TYPE_CELL;
        request.height = FT_Long(match.height) << 6;
        if (FT_Request_Size(face->face, &request) != 0)
            return nullptr;
        face->sizedHeight = match.height;
    }
    FT_Set_Transform(face->face, c.transformed ? &c.matrix : nullptr, nullptr);
    return face;
}

size_t FFreeTypeTextLayer::priCandidateFor(Match& match, char32_t codePoint)
{
    auto found = match.candidateOf.find(codePoint);
    if (found != match.candidateOf.end())
        return found->second;
    size_t chosen = 0;
    for (size_t i = 0; i < match.candidates.size(); ++i) {
        if (FcCharSetHasChar(match.candidates[i].charset, codePoint)) {
            chosen = i;
            break;
        }
    }
    match.candidateOf.emplace(codePoint, chosen);
    return chosen;
}

const FFreeTypeTextLayer::Glyph* FFreeTypeTextLayer::priGlyph(Match& match, char32_t codePoint, bool render)
{
    auto cached = match.glyphs.find(codePoint);
    if (cached != match.glyphs.end() && (cached->second.rendered || !render))
        return &cached->second;
    if (match.glyphs.size() >= kMaxCachedGlyphs)
        match.glyphs.clear();
    size_t index = priCandidateFor(match, codePoint);
    Face* face = priSizedFace(match, index);
    if (face == nullptr) {
        index = 0;
        face = priSizedFace(match, 0);
    }
    if (face == nullptr)
        return nullptr;
    const Candidate& c = match.candidates[index];
    const FT_UInt glyphIndex = FT_Get_Char_Index(face->face, codePoint);
    if (FT_Load_Glyph(face->face, glyphIndex, FT_LOAD_TARGET_LIGHT | FT_LOAD_NO_BITMAP) != 0)
        return nullptr;
    FT_GlyphSlot slot = face->face->glyph;
    if (c.embolden)
        FT_GlyphSlot_Embolden(slot);
    Glyph& glyph = match.glyphs[codePoint];
    glyph.advance = RoundPixels(slot->advance.x);
    if (!render)
        return &glyph;
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0)
        return nullptr;
    const FT_Bitmap& b = slot->bitmap;
    glyph.rendered = true;
    glyph.left = slot->bitmap_left;
    glyph.top = slot->bitmap_top;
    glyph.width = static_cast<int>(b.width);
    glyph.rows = static_cast<int>(b.rows);
    glyph.coverage.resize(size_t(b.width) * size_t(b.rows));
    for (unsigned row = 0; row < b.rows; ++row)
        std::copy_n(b.buffer + ptrdiff_t(row) * b.pitch, b.width,
                    glyph.coverage.data() + size_t(row) * b.width);
    return &glyph;
}

namespace
{

bool IsLeadSurrogate(char16_t u)
{
    return u >= 0xD800 && u <= 0xDBFF;
}

bool IsTrailSurrogate(char16_t u)
{
    return u >= 0xDC00 && u <= 0xDFFF;
}

// The code point that ends at unit i, or 0 for a lead surrogate followed by its trail.
char32_t CodePointEndingAt(const char16_t* text, int length, int i)
{
    const char16_t u = text[i];
    if (IsLeadSurrogate(u) && i + 1 < length && IsTrailSurrogate(text[i + 1]))
        return 0;
    if (IsTrailSurrogate(u) && i > 0 && IsLeadSurrogate(text[i - 1]))
        return 0x10000 + ((char32_t(text[i - 1]) - 0xD800) << 10) + (char32_t(u) - 0xDC00);
    return u;
}

} // namespace

bool FFreeTypeTextLayer::priAdvances(Match& match, const char16_t* text, int length,
                                     std::vector<int>& advances)
{
    advances.assign(size_t(length), 0);
    for (int i = 0; i < length; ++i) {
        const char32_t cp = CodePointEndingAt(text, length, i);
        if (cp == 0)
            continue;
        const Glyph* glyph = priGlyph(match, cp, false);
        if (glyph == nullptr)
            return false;
        advances[size_t(i)] = glyph->advance;
    }
    return true;
}

bool FFreeTypeTextLayer::GetMetrics(const FOsFont& font, int& lineHeight, int& averageWidth)
{
    Match* match = priMatch(font);
    if (match == nullptr)
        return false;
    Face* face = priSizedFace(*match, 0);
    if (face == nullptr)
        return false;
    lineHeight = match->height;
    const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face->face, FT_SFNT_OS2));
    if (os2 != nullptr && os2->xAvgCharWidth > 0) {
        averageWidth = RoundPixels(FT_MulFix(os2->xAvgCharWidth, face->face->size->metrics.x_scale));
        return true;
    }
    const Glyph* x = priGlyph(*match, U'x', false);
    averageWidth = x != nullptr ? x->advance : 0;
    return true;
}

bool FFreeTypeTextLayer::GetPrefixWidths(const FOsFont& font, const char16_t* text, int length,
                                         int* prefixWidths)
{
    Match* match = priMatch(font);
    if (match == nullptr)
        return false;
    std::vector<int> advances;
    if (!priAdvances(*match, text, length, advances))
        return false;
    int sum = 0;
    for (int i = 0; i < length; ++i) {
        sum += advances[size_t(i)];
        prefixWidths[i] = sum;
    }
    return true;
}

bool FFreeTypeTextLayer::Render(const FOsFont& font, const char16_t* text, int length, int* prefixWidths,
                                FOsTextImage& image)
{
    Match* match = priMatch(font);
    if (match == nullptr || length <= 0)
        return false;
    std::vector<int> advances;
    if (!priAdvances(*match, text, length, advances))
        return false;
    int extent = 0;
    for (int i = 0; i < length; ++i) {
        extent += advances[size_t(i)];
        if (prefixWidths != nullptr)
            prefixWidths[i] = extent;
    }
    Face* primary = priSizedFace(*match, 0);
    if (primary == nullptr)
        return false;
    const FT_Size_Metrics& m = primary->face->size->metrics;
    const int ascent = match->ascent;
    // A text wider than any pixmap may be is refused before its pixels are made.
    if (!IsUiPixmapSizeAllowed(int64_t(extent) + 2, match->height))
        return false;
    image.width = extent + 2;
    image.height = match->height;
    image.pixels.assign(size_t(image.width) * size_t(image.height) * 4, 0);
    for (size_t i = 3; i < image.pixels.size(); i += 4)
        image.pixels[i] = 255;

    const auto plot = [&image](int x, int y, uint8_t coverage) {
        if (x < 0 || y < 0 || x >= image.width || y >= image.height)
            return;
        uint8_t* p = image.pixels.data() + (size_t(y) * size_t(image.width) + size_t(x)) * 4;
        const uint8_t v = std::max(p[1], coverage);
        p[0] = p[1] = p[2] = v;
    };

    int penX = 1;
    for (int i = 0; i < length; ++i) {
        const char32_t cp = CodePointEndingAt(text, length, i);
        if (cp == 0)
            continue;
        const Glyph* glyph = priGlyph(*match, cp, true);
        if (glyph == nullptr)
            return false;
        for (int row = 0; row < glyph->rows; ++row) {
            const uint8_t* src = glyph->coverage.data() + size_t(row) * size_t(glyph->width);
            for (int col = 0; col < glyph->width; ++col) {
                if (src[col] != 0)
                    plot(penX + glyph->left + col, ascent - glyph->top + row, src[col]);
            }
        }
        penX += advances[size_t(i)];
    }

    if (font.underline) {
        const FT_Face f = primary->face;
        int thickness = 1;
        int y = ascent + 1;
        if (FT_IS_SCALABLE(f)) {
            thickness = std::max(1, RoundPixels(FT_MulFix(f->underline_thickness, m.y_scale)));
            y = ascent - RoundPixels(FT_MulFix(f->underline_position, m.y_scale)) - thickness / 2;
        }
        y = std::clamp(y, 0, std::max(0, image.height - thickness));
        for (int t = 0; t < thickness; ++t) {
            for (int x = 1; x < image.width - 1; ++x)
                plot(x, y + t, 255);
        }
    }
    return true;
}

std::string FFreeTypeTextLayer::GetFontFileFor(const FOsFont& font, char32_t codePoint)
{
    Match* match = priMatch(font);
    if (match == nullptr)
        return std::string();
    return match->candidates[priCandidateFor(*match, codePoint)].file;
}
