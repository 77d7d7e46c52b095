#pragma once

// What the display and headless applications of the OS layer share.

#include <string>

#include "FIOsUiApp.h"

// The language a program family shows by default for a system language's primary code
// ("de", "en", ...); nullptr where the family has no default of its own.
inline const char* FamilyLanguage(const std::string& primary)
{
    if (primary == "de")
        return "German";
    if (primary == "en")
        return "English";
    if (primary == "fr")
        return "French";
    if (primary == "ja")
        return "Japanese";
    if (primary == "ko")
        return "Korean";
    return nullptr;
}

// The OS information every application answers alike: kind 1 is the instance the
// framework hands in, kind 2 tells that every text path is the wide one.
class FOsUiAppBase : public FIOsUiApp
{
public:
    void* GetOsInfo(int kind) override
    {
        switch (kind) {
        case 1:
            return m_pInstance;
        case 2:
            return &m_bTrue;
        default:
            return nullptr;
        }
    }
    bool SetOsInfo(int kind, void* value) override
    {
        if (kind != 1)
            return false;
        m_pInstance = value;
        return true;
    }

private:
    void* m_pInstance = nullptr;
    bool m_bTrue = true;
};
