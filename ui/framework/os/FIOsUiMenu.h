#pragma once

#include "FWideString.h"

// The portable pull-down as the OS menu sees it: a chosen item comes back by position.
class FIGenericUiMenu
{
public:
    virtual ~FIGenericUiMenu() = default;
    // False for a missing or disabled item.
    virtual bool SelectItem(int position) = 0;
};

// The OS side of one pull-down. Positions count every child tag of the
// pull-down, separators and unlabelled items included, on both sides.
class FIOsUiMenu
{
public:
    virtual ~FIOsUiMenu() = default;
    virtual void EnableItem(int position) = 0;
    virtual void DisableItem(int position) = 0;
    virtual void CheckItem(int position, bool on) = 0;
    virtual void SetItemLabel(int position, const FWideString& label, const FWideString& keyText) = 0;
    virtual void SetTitle(const FWideString& text) = 0;
};
