#include "FOsMenuBar.h"

#include <algorithm>

#include "FIOsTextLayer.h"
#include "FIUiApp.h"
#include "FPropList.h"
#include "FUiMultiLangString.h"

namespace
{

constexpr uint32_t kBarColour = 0xFFE6E6E6;
constexpr uint32_t kPanelColour = 0xFFF8F8F8;
constexpr uint32_t kBorderColour = 0xFF7F7F7F;
constexpr uint32_t kHighlightColour = 0xFF2F6FD0;
constexpr uint32_t kTextColour = 0xFF000000;
constexpr uint32_t kGreyedColour = 0xFF9A9A9A;
constexpr uint32_t kHighlightTextColour = 0xFFFFFFFF;

constexpr int kTitlePad = 8;
constexpr int kCheckColumn = 20;
constexpr int kShortcutGap = 24;
constexpr int kSeparatorHeight = 7;

// The menu font: the same face the tests pin, so that pictures compare.
FOsFont MenuFont()
{
    FOsFont font;
    font.family = "DejaVu Sans";
    font.height = 14;
    return font;
}

int LineHeight()
{
    int line = 0, average = 0;
    if (!GetOsTextLayer().GetMetrics(MenuFont(), line, average) || line <= 0)
        line = 14;
    return line;
}

int TextWidth(const FWideString& text)
{
    if (text.IsEmpty())
        return 0;
    std::vector<int> widths(static_cast<size_t>(text.GetLength()));
    if (!GetOsTextLayer().GetPrefixWidths(MenuFont(), text.GetBuffer(), text.GetLength(), widths.data()))
        return 0;
    return widths.back() + 2;
}

uint32_t Blend(uint32_t under, uint32_t over, unsigned coverage)
{
    uint32_t out = 0xFF000000;
    for (int shift = 0; shift < 24; shift += 8) {
        const unsigned a = (under >> shift) & 0xFF, b = (over >> shift) & 0xFF;
        out |= ((a * (255 - coverage) + b * coverage + 127) / 255) << shift;
    }
    return out;
}

struct Canvas {
    uint32_t* pixels;
    int width;
    int height;

    void Fill(const FRect& r, uint32_t colour) const
    {
        for (int y = std::max(0, r.top); y < std::min(height, r.bottom); ++y) {
            for (int x = std::max(0, r.left); x < std::min(width, r.right); ++x)
                pixels[static_cast<size_t>(y) * width + x] = colour;
        }
    }
    void Frame(const FRect& r, uint32_t colour) const
    {
        Fill(FRect(r.left, r.top, r.right, r.top + 1), colour);
        Fill(FRect(r.left, r.bottom - 1, r.right, r.bottom), colour);
        Fill(FRect(r.left, r.top, r.left + 1, r.bottom), colour);
        Fill(FRect(r.right - 1, r.top, r.right, r.bottom), colour);
    }
    void Text(const FWideString& text, int left, int top, uint32_t colour) const
    {
        if (text.IsEmpty())
            return;
        FOsTextImage image;
        std::vector<int> widths(static_cast<size_t>(text.GetLength()));
        if (!GetOsTextLayer().Render(MenuFont(), text.GetBuffer(), text.GetLength(), widths.data(), image))
            return;
        for (int y = 0; y < image.height; ++y) {
            const int py = top + y;
            if (py < 0 || py >= height)
                continue;
            for (int x = 0; x < image.width; ++x) {
                const int px = left + x;
                if (px < 0 || px >= width)
                    continue;
                // White on black: any channel is the coverage.
                const unsigned coverage = image.pixels[(static_cast<size_t>(y) * image.width + x) * 4 + 1];
                uint32_t& p = pixels[static_cast<size_t>(py) * width + px];
                p = Blend(p, colour, coverage);
            }
        }
    }
    void Tick(int left, int top, uint32_t colour) const
    {
        // A check mark of two strokes, 2 pixels thick.
        for (int i = 0; i < 4; ++i)
            Fill(FRect(left + i, top + 4 + i, left + i + 2, top + 6 + i), colour);
        for (int i = 0; i < 7; ++i)
            Fill(FRect(left + 4 + i, top + 7 - i, left + 6 + i, top + 9 - i), colour);
    }
};

} // namespace

FOsAccelerator ParseOsAccelerator(const FWideString& keyText)
{
    FOsAccelerator entry;
    entry.active = true;
    FWideString modifiers, key;
    if (!keyText.Split(u"-", modifiers, key)) {
        key = keyText;
    } else {
        for (int i = 0; i < modifiers.GetLength(); ++i) {
            const char16_t c = modifiers.GetBuffer()[i];
            entry.ctrl = entry.ctrl || c == u'C';
            entry.shift = entry.shift || c == u'S';
            entry.alt = entry.alt || c == u'A';
        }
    }
    const int length = key.GetLength();
    const char16_t* k = key.GetBuffer();
    if (key == "Del") {
        entry.key = 127;
    } else if (length == 2 && k[0] == u'F' && k[1] >= u'1' && k[1] <= u'9') {
        entry.key = static_cast<uint16_t>(112 + (k[1] - u'1'));
    } else if (length == 1 && k[0] >= u'A' && k[0] <= u'Z') {
        entry.key = k[0];
    } else if (length == 1 && k[0] >= u'a' && k[0] <= u'z') {
        entry.key = static_cast<uint16_t>(k[0] - u'a' + u'A');
    } else if (length == 1 && k[0] >= u'0' && k[0] <= u'9') {
        entry.key = k[0];
    } else if (length == 1 && (k[0] == u'[' || k[0] == u']' || k[0] == u'-' || k[0] == u'=')) {
        entry.key = k[0];
    }
    return entry;
}

FWideString OsMenuShortcutText(FIUiApp* app, const FWideString& keyText)
{
    FWideString shown;
    if (keyText.IsEmpty())
        return shown;
    if (keyText == "Del") {
        const FWideString* del = app ? app->GetDelMenuText() : nullptr;
        shown = del ? *del : FWideString("Del");
        return shown;
    }
    // Arrows read the same in every language.
    if (keyText == "Left")
        return FWideString(u"\u2190");
    if (keyText == "Right")
        return FWideString(u"\u2192");
    FWideString modifiers, key;
    if (!keyText.Split(u"-", modifiers, key))
        return keyText;
    for (int i = 0; i < modifiers.GetLength(); ++i) {
        const char16_t c = modifiers.GetBuffer()[i];
        const FWideString* text = nullptr;
        const char* fallback = nullptr;
        if (c == u'C') {
            text = app ? app->GetCtrlMenuText() : nullptr;
            fallback = "Ctrl+";
        } else if (c == u'S') {
            text = app ? app->GetShiftMenuText() : nullptr;
            fallback = "Shift+";
        } else if (c == u'A') {
            text = app ? app->GetAltMenuText() : nullptr;
            fallback = "Alt+";
        } else {
            continue;
        }
        shown += text ? *text : FWideString(fallback);
    }
    shown += key;
    return shown;
}

// ---- One pull-down ----

FOsMenu::FOsMenu(FOsMenuBar* bar, FIUiApp* app, FIGenericUiMenu* menu, FPropList* tag, int index)
    : m_pBar(bar), m_pApp(app), m_pMenu(menu), m_iIndex(index)
{
    if (!tag)
        return;
    auto labelOf = [app](FPropList* t, FWideString& label) {
        bool hasName = false;
        const FWideString name = t->GetString("DisplayString", FWideString(), &hasName);
        if (hasName && app) {
            if (FIUiMultiLangString* string = app->GetDisplayString(name)) {
                const FWideString* text = string->GetText();
                if (!text)
                    return false;
                label = *text;
                return true;
            }
        }
        bool hasLabel = false;
        label = t->GetString("Label", FWideString(), &hasLabel);
        return hasLabel;
    };
    labelOf(tag, m_usTitle);
    for (FPropList* child = tag->GetFirstChild(); child; child = child->GetNext()) {
        Item item;
        if (child->GetName() == "MENUSEPARATOR") {
            item.shown = true;
            item.separator = true;
        } else if (child->GetName() == "MENUITEM" && labelOf(child, item.label)) {
            item.shown = true;
            item.shortcut = OsMenuShortcutText(app, child->GetString("Key", FWideString()));
        }
        m_bEmpty = m_bEmpty && !item.shown;
        m_items.push_back(item);
    }
    if (m_bEmpty)
        return;
    for (FPropList* child = tag->GetFirstChild(); child; child = child->GetNext()) {
        bool has = false;
        FWideString key = child->GetString("Key", FWideString(), &has);
        if (!has)
            key = child->GetString("HiddenKey", FWideString(), &has);
        m_accelerators.push_back(has ? ParseOsAccelerator(key) : FOsAccelerator());
    }
}

FOsMenu::Item* FOsMenu::priItem(int position)
{
    if (position < 0 || position >= static_cast<int>(m_items.size()))
        return nullptr;
    return &m_items[static_cast<size_t>(position)];
}

void FOsMenu::EnableItem(int position)
{
    if (Item* item = priItem(position)) {
        item->enabled = true;
        item->checked = false;
        m_pBar->MarkChanged();
    }
}

void FOsMenu::DisableItem(int position)
{
    if (Item* item = priItem(position)) {
        item->enabled = false;
        m_pBar->MarkChanged();
    }
}

void FOsMenu::CheckItem(int position, bool on)
{
    if (Item* item = priItem(position)) {
        item->checked = on;
        item->enabled = true;
        m_pBar->MarkChanged();
    }
}

void FOsMenu::SetItemLabel(int position, const FWideString& label, const FWideString& keyText)
{
    // One rule for the first label and every later one, so a shortcut never vanishes.
    if (Item* item = priItem(position); item && !item->separator) {
        item->label = label;
        item->shortcut = OsMenuShortcutText(m_pApp, keyText);
        m_pBar->MarkChanged();
    }
}

void FOsMenu::SetTitle(const FWideString& text)
{
    m_usTitle = text;
    m_pBar->MarkChanged();
}

// ---- The bar ----

struct FOsMenuBar::Geometry {
    int line = 0;
    std::vector<int> titleLeft; // per menu; -1 when not in the bar
    std::vector<int> titleRight;
};

FOsMenuBar::FOsMenuBar() = default;
FOsMenuBar::~FOsMenuBar() = default;

FOsMenu* FOsMenuBar::AddMenu(FIUiApp* app, FIGenericUiMenu* menu, FPropList* tag)
{
    m_menus.push_back(std::make_unique<FOsMenu>(this, app, menu, tag, static_cast<int>(m_menus.size())));
    m_bChanged = true;
    return m_menus.back().get();
}

int FOsMenuBar::GetHeight() const
{
    for (const auto& menu : m_menus) {
        if (!menu->IsEmpty())
            return LineHeight() + 6;
    }
    return 0;
}

bool FOsMenuBar::OfferKey(uint16_t code, bool shift, bool ctrl, bool alt)
{
    for (const auto& menu : m_menus) {
        const auto& table = menu->GetAccelerators();
        for (size_t i = table.size(); i-- > 0;) {
            const FOsAccelerator& a = table[i];
            if (a.active && a.shift == shift && a.ctrl == ctrl && a.alt == alt && a.key == code) {
                Close();
                if (menu->GetMenu())
                    menu->GetMenu()->SelectItem(static_cast<int>(i));
                return true;
            }
        }
    }
    return false;
}

bool FOsMenuBar::Command(int identifier)
{
    const size_t index = static_cast<size_t>((identifier >> 8) & 255);
    if (index >= m_menus.size() || !m_menus[index]->GetMenu())
        return false;
    return m_menus[index]->GetMenu()->SelectItem(identifier & 255);
}

void FOsMenuBar::priLayout() const
{
    auto* self = const_cast<FOsMenuBar*>(this);
    if (!self->m_geometry)
        self->m_geometry = std::make_unique<Geometry>();
    Geometry& g = *self->m_geometry;
    g.line = LineHeight();
    g.titleLeft.assign(m_menus.size(), -1);
    g.titleRight.assign(m_menus.size(), -1);
    int x = 2;
    for (size_t i = 0; i < m_menus.size(); ++i) {
        if (m_menus[i]->IsEmpty())
            continue;
        g.titleLeft[i] = x;
        x += kTitlePad * 2 + TextWidth(m_menus[i]->GetTitle());
        g.titleRight[i] = x;
    }
}

int FOsMenuBar::priTitleAt(int x, int y) const
{
    if (y < 0 || y >= GetHeight())
        return -1;
    priLayout();
    for (size_t i = 0; i < m_menus.size(); ++i) {
        if (m_geometry->titleLeft[i] >= 0 && x >= m_geometry->titleLeft[i] && x < m_geometry->titleRight[i])
            return static_cast<int>(i);
    }
    return -1;
}

FRect FOsMenuBar::GetPullDownRect() const
{
    if (m_iOpen < 0)
        return FRect();
    priLayout();
    const FOsMenu& menu = *m_menus[static_cast<size_t>(m_iOpen)];
    int labels = 0, shortcuts = 0, height = 2;
    for (const FOsMenu::Item& item : menu.GetItems()) {
        if (!item.shown)
            continue;
        labels = std::max(labels, TextWidth(item.label));
        shortcuts = std::max(shortcuts, TextWidth(item.shortcut));
        height += item.separator ? kSeparatorHeight : m_geometry->line + 4;
    }
    const int width = kCheckColumn + labels + (shortcuts ? kShortcutGap + shortcuts : 0) + 12;
    int left = m_geometry->titleLeft[static_cast<size_t>(m_iOpen)];
    if (m_iWindowWidth > 0 && left + width > m_iWindowWidth)
        left = std::max(0, m_iWindowWidth - width);
    const int top = GetHeight();
    return FRect(left, top, left + width, top + height);
}

int FOsMenuBar::priItemAt(int x, int y) const
{
    const FRect r = GetPullDownRect();
    if (m_iOpen < 0 || x < r.left || x >= r.right || y < r.top || y >= r.bottom)
        return -1;
    int top = r.top + 1;
    const auto& items = m_menus[static_cast<size_t>(m_iOpen)]->GetItems();
    for (size_t i = 0; i < items.size(); ++i) {
        if (!items[i].shown)
            continue;
        const int h = items[i].separator ? kSeparatorHeight : m_geometry->line + 4;
        if (y >= top && y < top + h)
            return static_cast<int>(i);
        top += h;
    }
    return -1;
}

void FOsMenuBar::Close()
{
    if (m_iOpen < 0)
        return;
    m_iOpen = -1;
    m_iHover = -1;
    m_bChanged = true;
}

bool FOsMenuBar::MouseDown(int x, int y)
{
    const int title = priTitleAt(x, y);
    if (title >= 0) {
        if (title == m_iOpen) {
            Close();
        } else {
            m_iOpen = title;
            m_iHover = -1;
            m_bChanged = true;
        }
        return true;
    }
    if (m_iOpen >= 0) {
        const int position = priItemAt(x, y);
        const FRect r = GetPullDownRect();
        const bool inside = x >= r.left && x < r.right && y >= r.top && y < r.bottom;
        if (position >= 0) {
            const FOsMenu::Item& item = m_menus[static_cast<size_t>(m_iOpen)]->GetItems()[size_t(position)];
            if (item.separator || !item.enabled)
                return true;
            const int identifier = (m_iOpen << 8) | position;
            Close();
            Command(identifier);
            return true;
        }
        if (!inside)
            Close();
        // The press that closes the pull-down goes no further.
        return true;
    }
    return y >= 0 && y < GetHeight();
}

bool FOsMenuBar::MouseMove(int x, int y)
{
    if (m_iOpen < 0)
        return y >= 0 && y < GetHeight();
    const int title = priTitleAt(x, y);
    if (title >= 0 && title != m_iOpen) {
        m_iOpen = title;
        m_iHover = -1;
        m_bChanged = true;
        return true;
    }
    const int position = priItemAt(x, y);
    if (position != m_iHover) {
        m_iHover = position;
        m_bChanged = true;
    }
    return true;
}

bool FOsMenuBar::TakeChanged()
{
    const bool changed = m_bChanged;
    m_bChanged = false;
    return changed;
}

void FOsMenuBar::Draw(uint32_t* pixels, int width, int height) const
{
    const int barHeight = GetHeight();
    if (!pixels || barHeight <= 0)
        return;
    priLayout();
    const Geometry& g = *m_geometry;
    const Canvas canvas{pixels, width, height};
    canvas.Fill(FRect(0, 0, width, barHeight), kBarColour);
    canvas.Fill(FRect(0, barHeight - 1, width, barHeight), kBorderColour);
    for (size_t i = 0; i < m_menus.size(); ++i) {
        if (g.titleLeft[i] < 0)
            continue;
        uint32_t colour = kTextColour;
        if (static_cast<int>(i) == m_iOpen) {
            canvas.Fill(FRect(g.titleLeft[i], 1, g.titleRight[i], barHeight - 1), kHighlightColour);
            colour = kHighlightTextColour;
        }
        canvas.Text(m_menus[i]->GetTitle(), g.titleLeft[i] + kTitlePad - 1, 3, colour);
    }
    if (m_iOpen < 0)
        return;
    const FRect r = GetPullDownRect();
    canvas.Fill(r, kPanelColour);
    canvas.Frame(r, kBorderColour);
    const auto& items = m_menus[static_cast<size_t>(m_iOpen)]->GetItems();
    int shortcutLeft = 0;
    for (const FOsMenu::Item& item : items) {
        if (item.shown)
            shortcutLeft = std::max(shortcutLeft, TextWidth(item.label));
    }
    shortcutLeft += r.left + kCheckColumn + kShortcutGap;
    int top = r.top + 1;
    for (size_t i = 0; i < items.size(); ++i) {
        const FOsMenu::Item& item = items[i];
        if (!item.shown)
            continue;
        if (item.separator) {
            canvas.Fill(FRect(r.left + 4, top + 3, r.right - 4, top + 4), kBorderColour);
            top += kSeparatorHeight;
            continue;
        }
        const int h = g.line + 4;
        uint32_t colour = item.enabled ? kTextColour : kGreyedColour;
        if (static_cast<int>(i) == m_iHover && item.enabled) {
            canvas.Fill(FRect(r.left + 1, top, r.right - 1, top + h), kHighlightColour);
            colour = kHighlightTextColour;
        }
        if (item.checked)
            canvas.Tick(r.left + 5, top + (h - 12) / 2, colour);
        canvas.Text(item.label, r.left + kCheckColumn, top + 2, colour);
        canvas.Text(item.shortcut, shortcutLeft, top + 2, colour);
        top += h;
    }
}
