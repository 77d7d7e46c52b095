#pragma once

#include "FUiObject.h"

// VARIABLE: the script's typed variable, holding a string, a float, an integer
// and a boolean at once, optionally kept across runs in the state file.
class FUiVariable : public FUiObject
{
public:
    explicit FUiVariable(const char* typeName);
    ~FUiVariable() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;

    const FWideString& GetString() const { return m_usString; }
    double GetFloat() const { return m_dFloat; }
    int GetInt() const { return m_iInt; }
    bool GetBool() const { return m_bBool; }

private:
    void priFireBoolTail();
    void priStore();

    bool m_bPersistent = false;
    FWideString m_usString;
    double m_dFloat = 0;
    int m_iInt = 0;
    bool m_bBool = false;
    bool m_bBusy = false;
    RelayEvent* m_pOnInitString = nullptr;
    RelayEvent* m_pOnInitFloat = nullptr;
    RelayEvent* m_pOnInitInt = nullptr;
    RelayEvent* m_pOnInitBool = nullptr;
    RelayEvent* m_pOnSetString = nullptr;
    RelayEvent* m_pOnSetFloat = nullptr;
    RelayEvent* m_pOnSetInt = nullptr;
    RelayEvent* m_pOnSetBool = nullptr;
    RelayEvent* m_pOnSendString = nullptr;
    RelayEvent* m_pOnSendFloat = nullptr;
    RelayEvent* m_pOnSendInt = nullptr;
    RelayEvent* m_pOnSendBool = nullptr;
    RelayEvent* m_pOnTrue = nullptr;
    RelayEvent* m_pOnFalse = nullptr;
    RelayEvent* m_pOnEqual = nullptr;
};

// STRCMP: compares a given text with a fixed one and reports the result.
class FUIStrCmp : public FUiObject
{
public:
    explicit FUIStrCmp(const char* typeName);
    ~FUIStrCmp() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;

private:
    FWideString m_usString;
    RelayEvent* m_pOnCompare = nullptr;
};
