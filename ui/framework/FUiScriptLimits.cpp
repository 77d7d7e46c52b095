#include "FUiScriptLimits.h"

#include "FException.h"
#include "FNarrowString.h"
#include "FPropList.h"

#include <cstdint>
#include <string_view>

namespace
{

bool EndsWith(std::u16string_view text, std::u16string_view tail)
{
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// 0 when the key holds no size or coordinate.
int LimitOfKey(std::u16string_view key)
{
    while (!key.empty() && key.front() == u'_')
        key.remove_prefix(1);
    if (key == u"X" || key == u"Y")
        return kMaxScriptPosition;
    static constexpr std::u16string_view kSizeTails[] = {u"Size",   u"Width",  u"Height", u"Thickness",
                                                         u"Margin", u"Offset", u"Rect",   u"Center",
                                                         u"DX",     u"DY",     u"Dx",     u"Dy"};
    for (const std::u16string_view tail : kSizeTails) {
        if (EndsWith(key, tail))
            return kMaxScriptSize;
    }
    // Points inside pictures and skins: "CursorX", "WaitCursor_Y", "BgX0".
    while (!key.empty() && key.back() >= u'0' && key.back() <= u'9')
        key.remove_suffix(1);
    if (key.size() > 1 && (key.back() == u'X' || key.back() == u'Y'))
        return kMaxScriptSize;
    return 0;
}

// The magnitude of the number at the start of `part` (blanks skipped, an
// optional sign), saturated; -1 when it does not start with one.
int64_t LeadingMagnitude(std::u16string_view part)
{
    std::size_t i = 0;
    while (i < part.size() && (part[i] == u' ' || part[i] == u'\t'))
        ++i;
    if (i < part.size() && (part[i] == u'+' || part[i] == u'-'))
        ++i;
    if (i >= part.size() || part[i] < u'0' || part[i] > u'9')
        return -1;
    int64_t value = 0;
    for (; i < part.size() && part[i] >= u'0' && part[i] <= u'9'; ++i)
        value = value < INT64_C(1) << 40 ? value * 10 + (part[i] - u'0') : value;
    return value;
}

// Scalars, points and rectangles alike: every comma-separated number.
bool WithinLimit(std::u16string_view value, int limit)
{
    for (;;) {
        const std::size_t comma = value.find(u',');
        if (LeadingMagnitude(value.substr(0, comma)) > limit)
            return false;
        if (comma == std::u16string_view::npos)
            return true;
        value.remove_prefix(comma + 1);
    }
}

void CheckNode(const FPropList& node)
{
    for (const FPropPair* pair = node.GetFirstProp(); pair != nullptr; pair = pair->GetNext()) {
        const FWideString& name = pair->GetName();
        const int limit = LimitOfKey(std::u16string_view(name.GetBuffer(), size_t(name.GetLength())));
        const FWideString& value = pair->GetValue();
        if (limit == 0 ||
            WithinLimit(std::u16string_view(value.GetBuffer(), size_t(value.GetLength())), limit))
            continue;
        const std::string valueText = value.GetNarrow();
        const std::string element = node.GetName().GetNarrow();
        throw FExceptionUiScript(FNarrowString("%s=\"%.40s\" of %s is beyond %d", name.GetNarrow(),
                                               valueText.c_str(), element.c_str(), limit)
                                     .GetCString());
    }
}

} // namespace

void CheckScriptExtents(const FPropList* root)
{
    if (root == nullptr)
        return;
    // Iterative: the reader limits nesting, but this needs no such promise.
    const FPropList* node = root;
    while (node != nullptr) {
        CheckNode(*node);
        if (node->GetFirstChild() != nullptr) {
            node = node->GetFirstChild();
            continue;
        }
        while (node != nullptr && node != root && node->GetNext() == nullptr)
            node = node->GetParent();
        if (node == nullptr || node == root)
            break;
        node = node->GetNext();
    }
}
