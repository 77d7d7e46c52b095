#include "FUiTextList.h"

#include "FIUiPixmap.h"
#include "FPropList.h"
#include "FUiWidgets.h"

#include <algorithm>

namespace
{

class FUiTextListCreator final : public FUiWidgetCreator<FUiTextList>
{
};

} // namespace

bool RegisterUiTextList(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiTextListCreator>(factory, "TEXTLIST");
}

FUiTextList::FUiTextList(const char* typeName) : FUiObject(typeName) {}

FUiTextList::~FUiTextList()
{
    ReleaseUiPixmap(m_pTextPixmap);
}

bool FUiTextList::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    FUiObject::InitUiObject(app, window, parent, tag);
    if (!tag)
        return false;
    bool face = false, size = false, colour = false;
    tag->GetString("Font", FWideString(), &face);
    tag->GetInt("FontSize", 0, &size);
    tag->GetColor("FontColor", FUiColor(), &colour);
    m_inlineFont.Read(tag);
    if (!face || !size || !colour)
        return false;
    m_uIndex = static_cast<unsigned>(tag->GetInt("StartIndex", 0));
    m_usIncMsg = tag->GetString("IncMsg", FWideString());
    m_usDecMsg = tag->GetString("DecMsg", FWideString());
    for (FPropList* child = tag->GetFirstChild(); child && int(m_items.size()) < kMaxTextListItems;
         child = child->GetNext()) {
        if (child->GetName() == "ITEM")
            m_items.push_back(child->GetString("Name", FWideString()));
    }
    if (m_items.empty())
        return false;
    // Compared unsigned: a negative start index counts as too large.
    if (m_uIndex >= m_items.size())
        m_uIndex = unsigned(m_items.size() - 1);
    m_pTextPixmap = RenderInlineFontText(m_inlineFont, m_items[m_uIndex], nullptr);
    if (m_pTextPixmap)
        m_rect = FRect(0, 0, m_pTextPixmap->GetWidth(), m_pTextPixmap->GetHeight());
    return true;
}

void FUiTextList::priChange()
{
    ReleaseUiPixmap(m_pTextPixmap);
    m_pTextPixmap = RenderInlineFontText(m_inlineFont, m_items[m_uIndex], nullptr);
    const int width = m_pTextPixmap ? m_pTextPixmap->GetWidth() : 0;
    const int height = m_pTextPixmap ? m_pTextPixmap->GetHeight() : 0;
    const FRect old = m_rect;
    m_rect = FRect(m_rect.left, m_rect.top, m_rect.left + width, m_rect.top + height);
    InvalidateWidgetRect(m_pWindow, old, false);
    InvalidateWidgetRect(m_pWindow, m_rect, false);
}

bool FUiTextList::UiRelayMessage(const FWideString& message, void* /*data*/)
{
    if (message.IsEmpty())
        return false;
    if (message == m_usIncMsg && m_uIndex + 1 < m_items.size()) {
        ++m_uIndex;
        priChange();
        return true;
    }
    if (message == m_usDecMsg && m_uIndex > 0) {
        --m_uIndex;
        priChange();
        return true;
    }
    return false;
}

void FUiTextList::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    if (!m_pTextPixmap)
        return;
    // Only the part of the text inside the rectangle shows.
    FRect source(0, 0, std::min(m_rect.Width(), m_pTextPixmap->GetWidth()),
                 std::min(m_rect.Height(), m_pTextPixmap->GetHeight()));
    FRect destination = OffsetWidgetRect(
        FRect(m_rect.left, m_rect.top, m_rect.left + source.Width(), m_rect.top + source.Height()), xOffset,
        yOffset);
    if (IsWidgetRectEmpty(destination) || !ClipWidgetRects(clip, destination, source))
        return;
    m_pTextPixmap->BlendBlit(target, destination, source);
}

FIUiObject* FUiTextList::HitTest(int x, int y)
{
    return WidgetRectContains(m_rect, x, y) ? this : nullptr;
}
