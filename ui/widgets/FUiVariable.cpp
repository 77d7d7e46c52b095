#include "FUiVariable.h"

#include "FDebugTrace.h"
#include "FIUiApp.h"
#include "FPropList.h"
#include "FUiTextLayout.h"
#include "FUiWidgetFrame.h"
#include "FUiWidgets.h"
#include "StorageClassRegistry.h"

namespace
{

class FUiVariableCreator final : public FUiWidgetCreator<FUiVariable>
{
};

class FUIStrCmpCreator final : public FUiWidgetCreator<FUIStrCmp>
{
};

// Special path kinds of the storage layer.
constexpr int kDocumentsFolder = 8;
constexpr int kApplicationFolder = 0;

FWideString NativeOrEmpty(const FWideString& url)
{
    FWideString native;
    if (url.IsEmpty() || !URLToNativePath(url, native))
        return FWideString();
    return native;
}

void MakeNonVisual(FLayoutObject& h, FLayoutObject& v, FRect& rect)
{
    SetWidgetLayout(h, 0, 0);
    SetWidgetLayout(v, 0, 0);
    rect.Clear();
}

} // namespace

bool RegisterUiVariable(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiVariableCreator>(factory, "VARIABLE");
}

bool RegisterUiStrCmp(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUIStrCmpCreator>(factory, "STRCMP");
}

// ---- VARIABLE ----

FUiVariable::FUiVariable(const char* typeName) : FUiObject(typeName)
{
    AddBoolProperty("PersistentData", true, &m_bPersistent, false);
    AddStringProperty("String", false, &m_usString, FWideString());
    AddFloatProperty("Float", false, &m_dFloat, 0.0);
    AddIntProperty("Int", false, &m_iInt, 0);
    AddBoolProperty("Bool", false, &m_bBool, false);
    m_pOnInitString = AddEvent(FWideString("ON_INIT_STRING"));
    m_pOnInitFloat = AddEvent(FWideString("ON_INIT_FLOAT"));
    m_pOnInitInt = AddEvent(FWideString("ON_INIT_INT"));
    m_pOnInitBool = AddEvent(FWideString("ON_INIT_BOOL"));
    m_pOnSetString = AddEvent(FWideString("ON_SET_STRING"));
    m_pOnSetFloat = AddEvent(FWideString("ON_SET_FLOAT"));
    m_pOnSetInt = AddEvent(FWideString("ON_SET_INT"));
    m_pOnSetBool = AddEvent(FWideString("ON_SET_BOOL"));
    m_pOnSendString = AddEvent(FWideString("ON_SEND_STRING"));
    m_pOnSendFloat = AddEvent(FWideString("ON_SEND_FLOAT"));
    m_pOnSendInt = AddEvent(FWideString("ON_SEND_INT"));
    m_pOnSendBool = AddEvent(FWideString("ON_SEND_BOOL"));
    m_pOnTrue = AddEvent(FWideString("ON_TRUE"));
    m_pOnFalse = AddEvent(FWideString("ON_FALSE"));
    m_pOnEqual = AddEvent(FWideString("ON_EQUAL"));
}

FUiVariable::~FUiVariable() = default;

bool FUiVariable::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    if (!FUiObject::InitUiObject(app, window, parent, tag)) {
        DebugTrace("FUiVariable::InitUiObject(%s) FAILED!\n", m_usFullName.GetNarrow());
        return false;
    }
    if (m_usString == "$DocsFolderURL")
        m_usString = GetSpecialPathURL(kDocumentsFolder);
    else if (m_usString == "$DocsFolderNative")
        m_usString = NativeOrEmpty(GetSpecialPathURL(kDocumentsFolder));
    else if (m_usString == "$AppFolderURL")
        m_usString = GetSpecialPathURL(kApplicationFolder);
    else if (m_usString == "$AppFolderNative")
        m_usString = NativeOrEmpty(GetSpecialPathURL(kApplicationFolder));
    if (m_bPersistent && app) {
        if (FPropList* stored = app->GetPersistentData(m_usFullName)) {
            m_usString = stored->GetString("String", m_usString);
            m_dFloat = stored->GetFloat("Float", m_dFloat);
            m_iInt = stored->GetInt("Int", m_iInt);
            m_bBool = stored->GetBool("Bool", m_bBool);
        }
    }
    MakeNonVisual(m_hLayout, m_vLayout, m_rect);
    return true;
}

void FUiVariable::priFireBoolTail()
{
    if (m_bBool)
        m_pOnTrue->Fire(nullptr);
    else
        m_pOnFalse->Fire(nullptr);
}

void FUiVariable::priStore()
{
    if (!m_bPersistent || !m_pApp)
        return;
    FPropList* stored = m_pApp->GetPersistentData(m_usFullName);
    if (!stored)
        return;
    stored->SetString("String", m_usString);
    stored->SetFloat("Float", m_dFloat);
    stored->SetInt("Int", m_iInt);
    stored->SetBool("Bool", m_bBool);
}

bool FUiVariable::UiRelayMessage(const FWideString& message, void* data)
{
    // Every event fires with the busy flag set; a setter that arrives meanwhile
    // (a target answering by setting this variable again) changes nothing.
    struct Busy {
        bool& flag;
        explicit Busy(bool& f) : flag(f) { flag = true; }
        ~Busy() { flag = false; }
    };
    if (message == "Post Creation Initialization") {
        Busy busy(m_bBusy);
        m_pOnInitString->Fire(&m_usString);
        m_pOnInitFloat->Fire(&m_dFloat);
        m_pOnInitInt->Fire(&m_iInt);
        m_pOnInitBool->Fire(&m_bBool);
        priFireBoolTail();
        return true;
    }
    if (message == "we're goin' bye-bye") {
        priStore();
        return true;
    }
    if (message == "GetString" || message == "GetFloat" || message == "GetInt" || message == "GetBool") {
        if (!data)
            return false;
        if (message == "GetString")
            *static_cast<FWideString*>(data) = m_usString;
        else if (message == "GetFloat")
            *static_cast<double*>(data) = m_dFloat;
        else if (message == "GetInt")
            *static_cast<int*>(data) = m_iInt;
        else
            *static_cast<bool*>(data) = m_bBool;
        return true;
    }
    if (message == "CmpString") {
        if (!data)
            return false;
        if (WideTextEquals(*static_cast<const FWideString*>(data), m_usString))
            m_pOnEqual->Fire(nullptr);
        return true;
    }
    const bool needsData =
        message == "SetString" || message == "SetFloat" || message == "SetInt" || message == "SetBool";
    const bool noData = message == "ToggleBool" || message == "SendString" || message == "SendFloat" ||
                        message == "SendInt" || message == "SendBool" || message == "EmptyString";
    if (!needsData && !noData)
        return false;
    if (needsData && !data)
        return false;
    if (m_bBusy)
        return true;
    Busy busy(m_bBusy);
    if (message == "SetString") {
        m_usString = *static_cast<const FWideString*>(data);
        m_pOnSetString->Fire(&m_usString);
    } else if (message == "SetFloat") {
        m_dFloat = *static_cast<const double*>(data);
        m_pOnSetFloat->Fire(&m_dFloat);
    } else if (message == "SetInt") {
        m_iInt = *static_cast<const int*>(data);
        m_pOnSetInt->Fire(&m_iInt);
    } else if (message == "SetBool" || message == "ToggleBool") {
        m_bBool = message == "SetBool" ? *static_cast<const bool*>(data) : !m_bBool;
        m_pOnSetBool->Fire(&m_bBool);
        priFireBoolTail();
    } else if (message == "SendString") {
        m_pOnSendString->Fire(&m_usString);
    } else if (message == "SendFloat") {
        m_pOnSendFloat->Fire(&m_dFloat);
    } else if (message == "SendInt") {
        m_pOnSendInt->Fire(&m_iInt);
    } else if (message == "SendBool") {
        m_pOnSendBool->Fire(&m_bBool);
        priFireBoolTail();
    } else {
        m_usString.Clear();
        m_pOnSetString->Fire(&m_usString);
    }
    return true;
}

// ---- STRCMP ----

FUIStrCmp::FUIStrCmp(const char* typeName) : FUiObject(typeName)
{
    AddStringProperty("String", false, &m_usString, FWideString());
    m_pOnCompare = AddEvent(FWideString("ON_COMPARE"));
}

FUIStrCmp::~FUIStrCmp() = default;

bool FUIStrCmp::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    if (!FUiObject::InitUiObject(app, window, parent, tag)) {
        DebugTrace("FUIStrCmp::InitUiObject(%s) FAILED!\n", m_usFullName.GetNarrow());
        return false;
    }
    MakeNonVisual(m_hLayout, m_vLayout, m_rect);
    return true;
}

bool FUIStrCmp::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Post Creation Initialization" || message == "we're goin' bye-bye")
        return true;
    if (message == "Compare") {
        if (!data)
            return false;
        bool equal = WideTextEquals(*static_cast<const FWideString*>(data), m_usString);
        m_pOnCompare->Fire(&equal);
        return true;
    }
    return false;
}
