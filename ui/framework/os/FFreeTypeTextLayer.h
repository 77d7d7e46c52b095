#pragma once

#include "FIOsTextLayer.h"

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// The installed fonts: matched by family, weight, slant, size and language; characters the
// best match lacks come from the next font that has them; glyphs are anti-aliased grey.
// Faces and matches are kept for the life of the layer.
class FFreeTypeTextLayer : public FIOsTextLayer
{
public:
    FFreeTypeTextLayer();
    ~FFreeTypeTextLayer() override;
    FFreeTypeTextLayer(const FFreeTypeTextLayer&) = delete;
    FFreeTypeTextLayer& operator=(const FFreeTypeTextLayer&) = delete;

    bool GetMetrics(const FOsFont& font, int& lineHeight, int& averageWidth) override;
    bool GetPrefixWidths(const FOsFont& font, const char16_t* text, int length, int* prefixWidths) override;
    bool Render(const FOsFont& font, const char16_t* text, int length, int* prefixWidths,
                FOsTextImage& image) override;

    // The file of the font that draws `codePoint` in `font`, or empty: for tests and tools.
    std::string GetFontFileFor(const FOsFont& font, char32_t codePoint);

private:
    struct Face;
    struct Candidate;
    struct Match;
    struct Glyph;

    Match* priMatch(const FOsFont& font);
    Face* priFace(const Candidate& candidate);
    Face* priSizedFace(Match& match, size_t index);
    size_t priCandidateFor(Match& match, char32_t codePoint);
    // The glyph of `codePoint`, rendered when asked; kept in the font's cache.
    const Glyph* priGlyph(Match& match, char32_t codePoint, bool render);
    // Advances of every unit: 0 for a leading surrogate, whose glyph goes with the next unit.
    bool priAdvances(Match& match, const char16_t* text, int length, std::vector<int>& advances);

    struct Library;
    std::unique_ptr<Library> m_pLibrary;
    std::map<std::pair<std::string, int>, std::unique_ptr<Face>> m_faces;
    std::vector<std::pair<FOsFont, std::unique_ptr<Match>>> m_matches;
};
