#include "FUiTextLayout.h"

#include <algorithm>
#include <limits>

namespace
{

const char16_t kEllipsis[] = u"...";

bool IsTagAt(const char16_t* text, int length, int i, bool& lineBreak)
{
    if (i + 4 > length || text[i] != u'<' || text[i + 3] != u'>')
        return false;
    if (text[i + 1] == u'B' && text[i + 2] == u'R') {
        lineBreak = true;
        return true;
    }
    if (text[i + 1] == u'L' && text[i + 2] == u'F') {
        lineBreak = false;
        return true;
    }
    return false;
}

bool IsLineStartForbidden(char16_t unit)
{
    return unit == 0x3001 || unit == 0x3002 || unit == 0x30FC;
}

// Above U+00FF, not counting the second half of a pair.
bool IsWideCharStart(char16_t unit)
{
    return unit > 0xFF && !IsLowSurrogate(unit);
}

FWideString Substring(const FWideString& text, int start, int length)
{
    FWideString out;
    if (length > 0)
        out.Assign(text.GetBuffer() + start, text.GetBuffer() + start + length - 1);
    return out;
}

} // namespace

bool IsUnitBoundary(const char16_t* text, int length, int position)
{
    if (position <= 0 || position >= length)
        return true;
    return !(IsHighSurrogate(text[position - 1]) && IsLowSurrogate(text[position]));
}

int PrevCharBoundary(const char16_t* text, int length, int position)
{
    position = std::clamp(position, 0, length);
    if (position == 0)
        return 0;
    --position;
    if (!IsUnitBoundary(text, length, position))
        --position;
    return position;
}

int NextCharBoundary(const char16_t* text, int length, int position)
{
    position = std::clamp(position, 0, length);
    if (position == length)
        return length;
    ++position;
    if (!IsUnitBoundary(text, length, position))
        ++position;
    return position;
}

int FloorCharBoundary(const char16_t* text, int length, int position)
{
    position = std::clamp(position, 0, length);
    if (!IsUnitBoundary(text, length, position))
        --position;
    return position;
}

int64_t MeasureTextPixels(const FUiMeasureFn& measure, const FWideString& text)
{
    const int length = text.GetLength();
    if (length == 0)
        return 0;
    std::vector<int> widths(size_t(length), 0);
    if (!measure(text.GetBuffer(), length, widths.data()))
        return -1;
    return int64_t(widths.back()) + kUiTextMargin;
}

char16_t PathSeparatorOf(const FWideString& path)
{
    const char16_t* p = path.GetBuffer();
    const char16_t* end = p + path.GetLength();
    // "/" before ":": on this system a colon is an ordinary character of a name.
    for (char16_t separator : {u'\\', u'/', u':'})
        if (std::find(p, end, separator) != end)
            return separator;
    return u'\\';
}

FWideString FitTextToWidth(const FWideString& text, bool isPath, int width, const FUiMeasureFn& measure)
{
    auto fits = [&](const FWideString& candidate) {
        const int64_t w = MeasureTextPixels(measure, candidate);
        return w >= 0 && w <= width;
    };
    if (text.IsEmpty() || fits(text))
        return text;
    const char16_t* units = text.GetBuffer();
    const int length = text.GetLength();

    if (isPath) {
        const char16_t separator = PathSeparatorOf(text);
        const char16_t* end = units + length;
        const char16_t* first = std::find(units, end, separator);
        FWideString prefix;
        std::vector<int> restStarts; // where the rest begins after dropping k folders
        if (first == end) {
            prefix += separator;
            restStarts.push_back(length);
        } else {
            const int split = int(first - units) + 1;
            prefix = Substring(text, 0, split);
            for (int i = split; i < length; ++i)
                if (units[i] == separator)
                    restStarts.push_back(i + 1);
            restStarts.push_back(length);
        }
        FWideString head = prefix;
        head += kEllipsis;
        head += separator;
        auto candidate = [&](size_t k) {
            FWideString c = head;
            c += Substring(text, restStarts[k], length - restStarts[k]);
            return c;
        };
        // Widths shrink as folders go, so the first candidate that fits is found by bisection.
        size_t lo = 0;
        size_t hi = restStarts.size();
        while (lo < hi) {
            const size_t mid = lo + (hi - lo) / 2;
            if (fits(candidate(mid)))
                hi = mid;
            else
                lo = mid + 1;
        }
        if (lo < restStarts.size())
            return candidate(lo);
        return FWideString("##");
    }

    // The longest prefix (whole characters) that fits with "..." behind it.
    std::vector<int> bounds;
    for (int i = 0; i < length; i = NextCharBoundary(units, length, i))
        bounds.push_back(i);
    auto candidate = [&](size_t k) {
        FWideString c = Substring(text, 0, bounds[k]);
        c += kEllipsis;
        return c;
    };
    if (!fits(candidate(0)))
        return FWideString("##");
    size_t lo = 0;
    size_t hi = bounds.size() - 1;
    while (lo < hi) {
        const size_t mid = lo + (hi - lo + 1) / 2;
        if (fits(candidate(mid)))
            lo = mid;
        else
            hi = mid - 1;
    }
    return candidate(lo);
}

namespace
{

class LineBreaker
{
public:
    LineBreaker(int width, bool eastAsian, int averageWidth, const FUiMeasureFn& measure,
                FUiLineBreakResult& out)
        : m_width(width), m_eastAsian(eastAsian), m_average(averageWidth > 0 ? averageWidth : 7),
          m_measure(measure), m_out(out)
    {
    }

    // Wraps units [start, end) of the normalised text.
    void Paragraph(int start, int end)
    {
        const char16_t* t = m_out.text.GetBuffer();
        int s = start;
        while (m_out.complete) {
            while (s < end && t[s] == u' ')
                ++s;
            if (s >= end)
                return;
            int fitting = 0;
            if (!priFitting(s, end, fitting))
                return;
            int cut = 0;
            if (s + fitting >= end) {
                cut = end;
            } else {
                cut = priBreakBefore(s, s + fitting);
                if (cut <= s) {
                    // A word wider than the line: cut after its last character that fits,
                    // and take at least one character.
                    cut = FloorCharBoundary(t, end, s + fitting);
                    if (cut <= s)
                        cut = NextCharBoundary(t, end, s);
                }
                int next = cut;
                while (next < end && t[next] == u' ')
                    ++next;
                if (next < end && IsLineStartForbidden(t[next])) {
                    const int back = PrevCharBoundary(t, end, cut);
                    if (priHasVisible(s, back))
                        cut = back;
                }
            }
            priAppend(s, cut);
            s = cut;
        }
    }

    void BlankLine() { m_out.lines.push_back(FUiTextLine{m_out.text.GetLength(), 0}); }

private:
    // How many units from s fit in the width (at most end - s).
    bool priFitting(int s, int end, int& fitting)
    {
        const char16_t* t = m_out.text.GetBuffer();
        int64_t chunk = std::max<int64_t>(16, 2 * int64_t(std::max(m_width, 0)) / m_average + 16);
        for (;;) {
            const int count = int(std::min<int64_t>(chunk, end - s));
            m_widths.assign(size_t(count), 0);
            if (!m_measure(t + s, count, m_widths.data())) {
                m_out.complete = false;
                return false;
            }
            int k = 0;
            while (k < count && int64_t(m_widths[size_t(k)]) + kUiTextMargin <= m_width)
                ++k;
            if (k < count || count == end - s) {
                fitting = k;
                return true;
            }
            chunk *= 2;
        }
    }

    // The last break opportunity in (s, limit]: the line then holds [s, break).
    int priBreakBefore(int s, int limit) const
    {
        const char16_t* t = m_out.text.GetBuffer();
        for (int b = limit; b > s; --b) {
            if (t[b] == u' ')
                return b;
            if (!m_eastAsian || IsLowSurrogate(t[b]))
                continue;
            if (IsWideCharStart(t[b]) || (t[b - 1] > 0xFF && !IsHighSurrogate(t[b - 1])))
                return b;
        }
        return s;
    }

    bool priHasVisible(int s, int end) const
    {
        const char16_t* t = m_out.text.GetBuffer();
        for (int i = s; i < end; ++i)
            if (t[i] != u' ')
                return true;
        return false;
    }

    void priAppend(int s, int end)
    {
        const char16_t* t = m_out.text.GetBuffer();
        while (end > s && t[end - 1] == u' ')
            --end;
        if (end > s)
            m_out.lines.push_back(FUiTextLine{s, end - s});
    }

    int m_width;
    bool m_eastAsian;
    int m_average;
    const FUiMeasureFn& m_measure;
    FUiLineBreakResult& m_out;
    std::vector<int> m_widths;
};

} // namespace

FUiLineBreakResult BreakTextLines(const FWideString& source, int width, bool eastAsian, int averageWidth,
                                  const FUiMeasureFn& measure)
{
    FUiLineBreakResult result;
    const char16_t* src = source.GetBuffer();
    const int length = source.GetLength();

    // Normalise first, remembering where each paragraph ends and how.
    struct Paragraph {
        int start;
        int end;
        bool blankAfter;
    };
    std::vector<Paragraph> paragraphs;
    std::vector<char16_t> units;
    units.reserve(size_t(length));
    int start = 0;
    for (int i = 0; i < length;) {
        bool lineBreak = false;
        if (IsTagAt(src, length, i, lineBreak)) {
            paragraphs.push_back(Paragraph{start, int(units.size()), lineBreak});
            start = int(units.size());
            i += 4;
            continue;
        }
        const char16_t c = src[i];
        if (c >= 32) {
            units.push_back(c);
        } else if (c == u'\n') {
            // A line end of the source is a word gap; in East Asian text only after a
            // Latin character.
            const char16_t before = i > 0 ? src[i - 1] : u' ';
            if (!eastAsian || (before < 0xFF && before != u'\r' && before != u'\n' && before != u'\t'))
                units.push_back(u' ');
        }
        ++i;
    }
    paragraphs.push_back(Paragraph{start, int(units.size()), false});
    if (!units.empty())
        result.text.Assign(units.data(), units.data() + units.size() - 1);

    LineBreaker breaker(width, eastAsian, averageWidth, measure, result);
    for (const Paragraph& p : paragraphs) {
        breaker.Paragraph(p.start, p.end);
        if (!result.complete)
            break;
        if (p.blankAfter)
            breaker.BlankLine();
    }
    return result;
}

FWideString PlainTextForClipboard(const FWideString& source)
{
    FWideString out;
    const char16_t* src = source.GetBuffer();
    const int length = source.GetLength();
    if (length == 0)
        return out;
    bool atLineStart = true;
    bool pendingBlank = false;
    for (int i = 0; i < length;) {
        bool lineBreak = false;
        if (IsTagAt(src, length, i, lineBreak)) {
            out += lineBreak ? u"\r\n\r\n" : u"\r\n";
            i += 4;
            atLineStart = true;
            pendingBlank = false;
            continue;
        }
        const char16_t c = src[i];
        if (c == u'\r' || c == u'\n') {
            const bool blankBefore = i > 0 && src[i - 1] == u' ';
            while (i < length && (src[i] == u'\r' || src[i] == u'\n'))
                ++i;
            pendingBlank = !out.IsEmpty() && !blankBefore;
            atLineStart = true;
            continue;
        }
        ++i;
        if (atLineStart && (c == u' ' || c == u'\t'))
            continue;
        if (pendingBlank)
            out.Append(u' ');
        pendingBlank = false;
        atLineStart = false;
        out.Append(c);
    }
    out += u"\r\n";
    return out;
}

int32_t ParseDecimalSaturated(const FWideString& text)
{
    const char16_t* p = text.GetBuffer();
    const char16_t* end = p + text.GetLength();
    while (p < end && (*p == u' ' || *p == u'\t'))
        ++p;
    bool negative = false;
    if (p < end && (*p == u'+' || *p == u'-')) {
        negative = *p == u'-';
        ++p;
    }
    int64_t value = 0;
    const int64_t cap = int64_t(std::numeric_limits<int32_t>::max()) + 1;
    for (; p < end && *p >= u'0' && *p <= u'9'; ++p)
        value = std::min(cap, value * 10 + (*p - u'0'));
    if (negative)
        return int32_t(-value);
    return int32_t(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()));
}

bool WideTextEquals(const FWideString& a, const FWideString& b)
{
    return a.GetLength() == b.GetLength() &&
           std::equal(a.GetBuffer(), a.GetBuffer() + a.GetLength(), b.GetBuffer());
}
