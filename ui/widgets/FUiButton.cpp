#include "FUiButton.h"

#include <algorithm>

#include "FGenericUiWindow.h"
#include "FIUiApp.h"
#include "FIUiPixmap.h"
#include "FPropList.h"
#include "FUiMultiLangString.h"
#include "FUiWidgetFrame.h"
#include "FUiWidgets.h"

namespace
{

// Key codes that click a focused button: Ctrl+C's break code, Enter and space.
bool IsClickKey(uint16_t code)
{
    return code == 3 || code == 13 || code == 32;
}

} // namespace

class FUiButtonCreator final : public FUiWidgetCreator<FUiButton>
{
};

bool RegisterUiButton(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiButtonCreator>(factory, "BUTTON");
}

FUiButton::FUiButton(const char* typeName) : FUiObject(typeName)
{
    AddEvent(FWideString("ON_PRESS"));
    AddEvent(FWideString("ON_DOWN"));
    AddEvent(FWideString("ON_UP"));
    AddEvent(FWideString("ON_ENABLED_STATE"));
    const FUiColor black(0, 0, 0, 255);
    AddBoolProperty("Hidden", false, &m_bHidden, false);
    AddBoolProperty("Repeat", false, &m_bRepeat, false);
    AddIntProperty("AutoRepeatSensitivity", false, &m_iRepeatDelay, 200);
    // Scripts are expected to give the layout keys; without them the button
    // takes its size from its content or skin and does not stretch.
    AddIntProperty("MinHSize", false, &m_iMinHSize, 0);
    AddIntProperty("MinVSize", false, &m_iMinVSize, 0);
    AddIntProperty("HStretch", false, &m_iHStretch, 0);
    AddIntProperty("VStretch", false, &m_iVStretch, 0);
    AddColorProperty("ColorN", false, &m_colours[kNormal], black);
    AddColorProperty("ColorO", false, &m_colours[kOver], black);
    AddColorProperty("ColorP", false, &m_colours[kPressed], black);
    AddColorProperty("ColorD", false, &m_colours[kDisabled], black);
    AddIntProperty("PressedLabelX", false, &m_iPressedLabelX, 0);
    AddIntProperty("PressedLabelY", false, &m_iPressedLabelY, 0);
    AddBoolProperty("_Disabled", false, &m_bStartDisabled, false);
}

FUiButton::~FUiButton()
{
    priDropPicture();
    priReleaseSkin();
}

FIUiRelay* FUiButton::GetUiRelay(const FWideString& name)
{
    return ContainerGetUiRelay(name);
}

bool FUiButton::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Post Creation Initialization") {
        bool enabled = m_iState != kDisabled;
        priFire("ON_ENABLED_STATE", &enabled);
        return true;
    }
    if (message == "Enable") {
        priSetEnabled(true);
        return true;
    }
    if (message == "Disable") {
        priSetEnabled(false);
        return true;
    }
    if (message == "ToggleEnabled") {
        priSetEnabled(m_iState == kDisabled);
        return true;
    }
    if (message == "SetEnabled") {
        if (!data)
            return false;
        priSetEnabled(*static_cast<const bool*>(data));
        return true;
    }
    if (message == "Show" || message == "Hide") {
        m_bHidden = message == "Hide";
        InvalidateWidgetRect(m_pWindow, m_rect, false);
        return true;
    }
    if (message == "GrabKeyboard") {
        if (FGenericUiWindow* window = GetWidgetWindow(m_pWindow))
            window->SetKeyboardObject(this, true);
        return true;
    }
    return false;
}

bool FUiButton::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    if (!FUiObject::InitUiObject(app, window, parent, tag))
        return false;
    m_iRepeatDelay = std::max(m_iRepeatDelay, 0);
    if (m_bStartDisabled)
        m_iState = kDisabled;
    bool haveBox = false;
    for (FPropList* child = tag ? tag->GetFirstChild() : nullptr; child; child = child->GetNext()) {
        if (!haveBox && (child->GetName() == "HBOX" || child->GetName() == "VBOX")) {
            haveBox = true;
            if (FIUiObject* box = CreateChildWidget(this, child))
                AppendChild(box);
        } else if (!m_bHasSkin && child->GetName() == "BGIMAGES") {
            priReadSkin(child);
        }
    }
    priComputeMinimums();
    const FWideString tip = tag ? tag->GetString("TipString", FWideString()) : FWideString();
    if (!tip.IsEmpty() && app)
        m_pTip = app->GetDisplayString(tip);
    return true;
}

bool FUiButton::GetToolTip(FWideString& text)
{
    if (!m_pTip || m_bHidden)
        return false;
    FWideString language;
    if (m_pApp)
        m_pApp->AddLanguageListener(nullptr, language);
    m_pTip->SelectLanguage(language);
    const FWideString* current = m_pTip->GetText();
    if (!current || current->IsEmpty())
        return false;
    text = *current;
    return true;
}

void FUiButton::priReadSkin(FPropList* skinTag)
{
    const bool noLabel = skinTag->GetBool("_NoLabel", false);
    bool scalingFound = true, labelFound = true;
    if (!noLabel) {
        m_scaling = skinTag->GetRect("ScalingRect", FRect(), &scalingFound);
        m_label = skinTag->GetRect("LabelRect", FRect(), &labelFound);
        m_bResizeScaling = skinTag->GetBool("ResizeScaling", false);
        m_bResizeScalingY = skinTag->GetBool("ResizeScalingY", false);
    } else {
        m_scaling = FRect();
        m_bResizeScaling = false;
        m_bResizeScalingY = false;
    }
    if (!scalingFound || !labelFound || !m_pApp)
        return;
    static const char* const kFiles[4] = {"File_Normal", "File_MouseOver", "File_Pressed", "File_Disabled"};
    static const bool kRequired[4] = {true, false, true, false};
    bool ok = true;
    for (int i = 0; i < 4 && ok; ++i) {
        bool present = false;
        const FWideString file = skinTag->GetString(kFiles[i], FWideString(), &present);
        if (!present) {
            ok = !kRequired[i];
            continue;
        }
        m_pImages[i] = m_pApp->LoadUiPixmap(file);
        ok = m_pImages[i] != nullptr;
    }
    const int width = m_pImages[kNormal] ? m_pImages[kNormal]->GetWidth() : 0;
    const int height = m_pImages[kNormal] ? m_pImages[kNormal]->GetHeight() : 0;
    for (int i = 0; i < 4 && ok; ++i) {
        if (m_pImages[i] && (m_pImages[i]->GetWidth() != width || m_pImages[i]->GetHeight() != height))
            ok = false;
    }
    if (ok && !noLabel) {
        for (const FRect& r : {m_scaling, m_label}) {
            if (r.left < 0 || r.top < 0 || r.Width() > width || r.Height() > height || r.right > width ||
                r.bottom > height)
                ok = false;
        }
    }
    // A skin without a label area lets the content box cover the whole image.
    if (noLabel)
        m_label = FRect(0, 0, width, height);
    if (!ok) {
        priReleaseSkin();
        return;
    }
    m_bHasSkin = true;
}

void FUiButton::priReleaseSkin()
{
    for (FIUiPixmap*& image : m_pImages)
        ReleaseUiPixmap(image);
    m_bHasSkin = false;
}

void FUiButton::priComputeMinimums()
{
    FIUiObject* box = m_pFirstChild;
    int width = std::max(m_iMinHSize, 0);
    int height = std::max(m_iMinVSize, 0);
    int hStretch = m_iHStretch;
    int vStretch = m_iVStretch;
    if (m_bHasSkin) {
        const int imageWidth = m_pImages[kNormal]->GetWidth();
        const int imageHeight = m_pImages[kNormal]->GetHeight();
        if (box) {
            width = std::max(width,
                             SaturatedSize(static_cast<long long>(box->GetLayoutObject(true)->GetMinSize()) +
                                           imageWidth - m_label.Width()));
            height = std::max(
                height, SaturatedSize(static_cast<long long>(box->GetLayoutObject(false)->GetMinSize()) +
                                      imageHeight - m_label.Height()));
        } else {
            width = imageWidth;
            height = imageHeight;
            hStretch = 0;
            vStretch = 0;
        }
    } else if (box) {
        width = std::max(width, box->GetLayoutObject(true)->GetMinSize());
        height = std::max(height, box->GetLayoutObject(false)->GetMinSize());
    }
    m_iMinWidth = width;
    m_iMinHeight = height;
    SetWidgetLayout(m_hLayout, width, hStretch);
    SetWidgetLayout(m_vLayout, height, vStretch);
    m_hLayout.Reset();
    m_vLayout.Reset();
}

bool FUiButton::ReInitLayout()
{
    if (m_pFirstChild)
        m_pFirstChild->ReInitLayout();
    priComputeMinimums();
    return true;
}

bool FUiButton::SetRect(int x, int y, int width, int height)
{
    priDropPicture();
    FIUiObject* box = m_pFirstChild;
    if (!box) {
        m_rect.Set(x, y, x + m_iMinWidth, y + m_iMinHeight);
        return true;
    }
    // A button that does not stretch keeps its minimum whatever room it is offered.
    width = PlacedWidgetLength(m_hLayout, width);
    height = PlacedWidgetLength(m_vLayout, height);
    if (m_bHasSkin) {
        const int right = m_pImages[kNormal]->GetWidth() - m_label.right;
        const int bottom = m_pImages[kNormal]->GetHeight() - m_label.bottom;
        if (box->SetRect(x + m_label.left, y + m_label.top, width - (m_label.left + right),
                         height - (m_label.top + bottom))) {
            const FRect r = box->GetRect();
            m_rect.Set(r.left - m_label.left, r.top - m_label.top, r.right + right, r.bottom + bottom);
        }
        return true;
    }
    if (box->SetRect(x, y, width, height))
        m_rect = box->GetRect();
    return true;
}

void FUiButton::priDropPicture()
{
    ReleaseUiPixmap(m_pPicture);
}

bool FUiButton::priRenderPicture()
{
    if (m_pPicture)
        return true;
    FIUiPixmap* image = m_pImages[m_iState] ? m_pImages[m_iState] : m_pImages[kNormal];
    if (!image || IsWidgetRectEmpty(m_rect))
        return false;
    m_pPicture = CreateUiPixmap(m_rect.Width(), m_rect.Height(), true);
    if (!m_pPicture)
        return false;
    if (m_bResizeScaling) {
        m_pPicture->FillRGBA(0, 0, 0, 0);
        image->Blit(m_pPicture, FRect(0, 0, m_rect.Width(), m_rect.Height()),
                    FRect(0, 0, image->GetWidth(), image->GetHeight()));
    } else if (m_bResizeScalingY) {
        image->DrawThreeSliceRect(m_pPicture, m_scaling);
    } else {
        image->DrawNineSliceRect(m_pPicture, m_scaling, true);
    }
    return true;
}

void FUiButton::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    if (m_bHidden)
        return;
    const FRect destination = OffsetWidgetRect(m_rect, xOffset, yOffset);
    if (m_bHasSkin) {
        if (priRenderPicture())
            DrawWidgetPicture(m_pPicture, target, destination, clip);
    } else {
        FillWidgetRect(target, destination, clip, m_colours[m_iState]);
    }
    if (m_iState == kPressed) {
        xOffset += m_iPressedLabelX;
        yOffset += m_iPressedLabelY;
    }
    if (m_pFirstChild)
        m_pFirstChild->Display(target, xOffset, yOffset, clip);
}

void FUiButton::Tick(int elapsedMs)
{
    FUiObject::Tick(elapsedMs);
    if (!m_bRepeat || !m_bHeld)
        return;
    m_iRepeatTime = SaturatedSize(static_cast<long long>(m_iRepeatTime) + std::max(elapsedMs, 0));
    if (!m_bRepeatActive) {
        // The tick that passes the delay only arms the repeat.
        m_bRepeatActive = m_iRepeatTime > m_iRepeatDelay;
        return;
    }
    m_iRepeatTime = 0;
    if (m_iState == kPressed)
        priFire("ON_PRESS");
}

FIUiObject* FUiButton::HitTest(int x, int y)
{
    // A hidden button cannot be clicked.
    if (m_bHidden || !WidgetRectContains(m_rect, x, y))
        return nullptr;
    if (m_pPicture && m_pPicture->GetAlpha(x - m_rect.left, y - m_rect.top) <= 128)
        return nullptr;
    return this;
}

bool FUiButton::MouseDown(int, int, bool, bool)
{
    if (m_iState == kDisabled || m_bHeld)
        return true;
    m_bHeld = true;
    m_bRepeatActive = false;
    m_iRepeatTime = 0;
    m_iState = kPressed;
    priDropPicture();
    InvalidateWidgetRect(m_pWindow, m_rect, false);
    priFire("ON_DOWN");
    return true;
}

void FUiButton::MouseUp(int x, int y, bool, bool)
{
    if (m_iState == kDisabled)
        return;
    m_bHeld = false;
    m_bRepeatActive = false;
    m_iRepeatTime = 0;
    // The hit test runs on the picture of the state the release found.
    const bool inside = HitTest(x, y) == this;
    m_iState = inside ? kOver : kNormal;
    priDropPicture();
    InvalidateWidgetRect(m_pWindow, m_rect, false);
    if (inside)
        priFire("ON_PRESS");
    priFire("ON_UP");
}

void FUiButton::MouseEnter(int, int)
{
    if (m_iState != kNormal && m_iState != kOver)
        return;
    m_iState = m_bHeld ? kPressed : kOver;
    priDropPicture();
    if (m_bHeld)
        priFire("ON_DOWN");
    InvalidateWidgetRect(m_pWindow, m_rect, false);
}

void FUiButton::MouseLeave(int, int)
{
    if (m_iState != kOver && m_iState != kPressed)
        return;
    const bool held = m_bHeld;
    m_iState = held ? kOver : kNormal;
    priDropPicture();
    if (held)
        priFire("ON_UP");
    InvalidateWidgetRect(m_pWindow, m_rect, false);
}

void FUiButton::KeyEvent(uint16_t code, bool, bool)
{
    // A disabled button is not clicked from the keyboard either.
    if (!IsClickKey(code) || m_iState == kDisabled)
        return;
    if (FGenericUiWindow* window = GetWidgetWindow(m_pWindow))
        window->SetKeyboardObject(this, false);
    priFire("ON_PRESS");
}

void FUiButton::priRefresh()
{
    priDropPicture();
    InvalidateWidgetRect(m_pWindow, m_rect, true);
}

void FUiButton::priSetEnabled(bool enabled)
{
    if (enabled == (m_iState != kDisabled))
        return;
    m_iState = enabled ? kNormal : kDisabled;
    // A press cut short by disabling must not leave the button held: it would
    // ignore every later press once enabled again.
    m_bHeld = false;
    m_bRepeatActive = false;
    m_iRepeatTime = 0;
    priRefresh();
    bool value = enabled;
    priFire("ON_ENABLED_STATE", &value);
}

void FUiButton::priFire(const char* eventName, void* data)
{
    if (RelayEvent* event = FindEvent(FWideString(eventName)))
        event->Fire(data);
}
