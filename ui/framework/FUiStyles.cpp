#include "FUiStyles.h"

#include "FException.h"
#include "FNarrowString.h"
#include "FPropList.h"

namespace
{

// A style that refers back to itself would expand for ever, doubling at each step.
constexpr int kMaxStyleExpansions = 256;
constexpr int kMaxStyledPairs = 4096;

FPropList* StepBack(FPropList* node)
{
    return node->GetPrev() ? node->GetPrev() : node->GetParent();
}

FPropList* ChildNamed(FPropList* node, const FWideString& name)
{
    for (FPropList* child = node->GetFirstChild(); child; child = child->GetNext()) {
        if (child->GetName() == name)
            return child;
    }
    return nullptr;
}

[[noreturn]] void ThrowScriptError(const char* format, const FWideString& value)
{
    throw FExceptionUiScript(FNarrowString(format, value.GetNarrow()).GetCString());
}

void ExpandNode(FPropList* node)
{
    int expansions = 0;
    for (FPropPair* pair = node->GetFirstProp(); pair; pair = pair->GetNext()) {
        const bool style = pair->GetName() == "Style";
        if (!style && !(pair->GetName() == "SwitchedStyle"))
            continue;
        if (++expansions > kMaxStyleExpansions)
            ThrowScriptError("style references do not end at '%s'", pair->GetValue());
        FPropList* source =
            style ? FindStyle(node, pair->GetValue()) : FindSwitchedStyle(node, pair->GetValue());
        if (!source) {
            ThrowScriptError(style ? "failed to find the referenced STYLE tag '%s'"
                                   : "failed to find the referenced SWITCHED_STYLE tag '%s'",
                             pair->GetValue());
        }
        // Copied first: a style may refer to itself, and its chain must not grow while it is copied.
        FPropList copy(nullptr, "copy");
        copy.CopyPropsFrom(*source);
        if (node->GetPropCount() + copy.GetPropCount() > kMaxStyledPairs)
            ThrowScriptError("style references do not end at '%s'", pair->GetValue());
        if (copy.GetFirstProp())
            pair->InsertChainAfter(copy.GetFirstProp());
    }
}

} // namespace

void ApplyPlatformSections(FPropList* root, bool isMacOS, bool isWindowsOS)
{
    if (!root)
        return;
    if (isMacOS) {
        root->UnwrapNamedDescendants(FWideString("MAC_OS"));
        root->RemoveNamedDescendants(FWideString("BORG_OS"));
        root->RemoveNamedDescendants(FWideString("MSW_OS"));
    } else if (isWindowsOS) {
        root->UnwrapNamedDescendants(FWideString("BORG_OS"));
        root->UnwrapNamedDescendants(FWideString("MSW_OS"));
        root->RemoveNamedDescendants(FWideString("MAC_OS"));
    }
}

bool ApplyStyles(FPropList* first)
{
    for (FPropList* node = first; node; node = node->GetNext()) {
        ExpandNode(node);
        if (node->GetFirstChild())
            ApplyStyles(node->GetFirstChild());
    }
    return true;
}

FPropList* FindStyle(FPropList* start, const FWideString& name)
{
    for (FPropList* node = start; node; node = StepBack(node)) {
        if (node->GetName() == "STYLE") {
            bool found = false;
            const FWideString styleName = node->GetString("StyleName", FWideString(), &found);
            if (found && styleName == name)
                return node;
        }
    }
    return nullptr;
}

FPropList* FindSwitchedStyle(FPropList* start, const FWideString& name)
{
    for (FPropList* node = start; node; node = StepBack(node)) {
        if (!(node->GetName() == "SWITCHED_STYLE"))
            continue;
        bool found = false;
        if (!(node->GetString("Name", FWideString(), &found) == name) || !found)
            continue;
        bool hasSwitch = false;
        const FWideString choice = node->GetString("Switch", FWideString(), &hasSwitch);
        if (!hasSwitch)
            continue;
        if (FPropList* set = ChildNamed(node, choice))
            return set;
        bool hasDefault = false;
        const FWideString fallback = node->GetString("DefaultSwitch", FWideString(), &hasDefault);
        if (FPropList* set = hasDefault ? ChildNamed(node, fallback) : nullptr)
            return set;
    }
    return nullptr;
}
