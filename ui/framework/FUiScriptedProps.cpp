#include "FUiScriptedProps.h"

#include "FDebugTrace.h"
#include "FIUiApp.h"
#include "FIUiPixmap.h"
#include "FPropList.h"

namespace
{

void ColorText(const FUiColor& color, FWideString& text)
{
    text.Format("#%02x%02x%02x%02x", color.red, color.green, color.blue, color.alpha);
}

class ObjectStringProperty : public FUiObjectProperty
{
public:
    ObjectStringProperty(const char* name, bool required, FWideString* member,
                         const FWideString& defaultValue)
        : FUiObjectProperty(name, kPropString, required), m_pMember(member), m_default(defaultValue)
    {
        *m_pMember = m_default;
    }
    void ReadFromTag(FIUiApp*, FPropList* tag, bool& found) override
    {
        *m_pMember = tag->GetString(GetName(), *m_pMember, &found);
    }
    void GetValueText(FWideString& text) override { text = *m_pMember; }
    void GetDefaultText(FWideString& text) override { text = m_default; }

private:
    FWideString* m_pMember;
    FWideString m_default;
};

class ObjectFloatProperty : public FUiObjectProperty
{
public:
    ObjectFloatProperty(const char* name, bool required, double* member, double defaultValue)
        : FUiObjectProperty(name, kPropFloat, required), m_pMember(member), m_default(defaultValue)
    {
        *m_pMember = m_default;
    }
    void ReadFromTag(FIUiApp*, FPropList* tag, bool& found) override
    {
        *m_pMember = tag->GetFloat(GetName(), *m_pMember, &found);
    }
    void GetValueText(FWideString& text) override { text.Format("%f", *m_pMember); }
    void GetDefaultText(FWideString& text) override { text.Format("%f", m_default); }

private:
    double* m_pMember;
    double m_default;
};

class ObjectIntProperty : public FUiObjectProperty
{
public:
    ObjectIntProperty(const char* name, bool required, int* member, int defaultValue)
        : FUiObjectProperty(name, kPropInt, required), m_pMember(member), m_default(defaultValue)
    {
        *m_pMember = m_default;
    }
    void ReadFromTag(FIUiApp*, FPropList* tag, bool& found) override
    {
        *m_pMember = tag->GetInt(GetName(), *m_pMember, &found);
    }
    void GetValueText(FWideString& text) override { text.Format("%d", *m_pMember); }
    void GetDefaultText(FWideString& text) override { text.Format("%d", m_default); }

private:
    int* m_pMember;
    int m_default;
};

class ObjectBoolProperty : public FUiObjectProperty
{
public:
    ObjectBoolProperty(const char* name, bool required, bool* member, bool defaultValue)
        : FUiObjectProperty(name, kPropBool, required), m_pMember(member), m_default(defaultValue)
    {
        *m_pMember = m_default;
    }
    void ReadFromTag(FIUiApp*, FPropList* tag, bool& found) override
    {
        *m_pMember = tag->GetBool(GetName(), *m_pMember, &found);
    }
    void GetValueText(FWideString& text) override { text = *m_pMember ? "true" : "false"; }
    void GetDefaultText(FWideString& text) override { text = m_default ? "true" : "false"; }

private:
    bool* m_pMember;
    bool m_default;
};

class ObjectColorProperty : public FUiObjectProperty
{
public:
    ObjectColorProperty(const char* name, bool required, FUiColor* member, const FUiColor& defaultValue)
        : FUiObjectProperty(name, kPropColor, required), m_pMember(member), m_default(defaultValue)
    {
        *m_pMember = m_default;
    }
    void ReadFromTag(FIUiApp*, FPropList* tag, bool& found) override
    {
        *m_pMember = tag->GetColor(GetName(), *m_pMember, &found);
    }
    void GetValueText(FWideString& text) override { ColorText(*m_pMember, text); }
    void GetDefaultText(FWideString& text) override { ColorText(m_default, text); }

private:
    FUiColor* m_pMember;
    FUiColor m_default;
};

class ObjectImageProperty : public FUiObjectProperty
{
public:
    ObjectImageProperty(const char* name, bool required, FIUiPixmap** member)
        : FUiObjectProperty(name, kPropImage, required), m_pMember(member)
    {
        *m_pMember = nullptr;
    }
    void ReadFromTag(FIUiApp* app, FPropList* tag, bool& found) override
    {
        const FWideString file = tag->GetString(GetName(), FWideString(), &found);
        if (!found)
            return;
        // The widget owns (and releases) what its member holds.
        *m_pMember = app ? app->LoadUiPixmap(file) : nullptr;
        if (!*m_pMember)
            found = false;
    }
    void GetValueText(FWideString& text) override
    {
        if (*m_pMember)
            text.Format("IMAGE (%d x %d)", (*m_pMember)->GetWidth(), (*m_pMember)->GetHeight());
        else
            text = "NULL";
    }
    void GetDefaultText(FWideString& text) override { text = "NULL"; }

private:
    FIUiPixmap** m_pMember;
};

const char* TypeWord(int type)
{
    switch (type) {
    case kPropString:
        return " STRING ";
    case kPropFloat:
        return " FLOAT  ";
    case kPropInt:
        return " INTEGER";
    case kPropBool:
        return " BOOLEAN";
    case kPropColor:
        return " COLOR  ";
    case kPropRect:
        return " RECT   ";
    case kPropPoint:
        return " POINT  ";
    case kPropImage:
        return " IMAGE  ";
    default:
        return " UNKNOWN";
    }
}

} // namespace

FUiScriptedProps::FUiScriptedProps() = default;
FUiScriptedProps::~FUiScriptedProps() = default;

void FUiScriptedProps::AddStringProperty(const char* name, bool required, FWideString* member,
                                         const FWideString& defaultValue)
{
    m_properties.push_back(std::make_unique<ObjectStringProperty>(name, required, member, defaultValue));
}

void FUiScriptedProps::AddFloatProperty(const char* name, bool required, double* member, double defaultValue)
{
    m_properties.push_back(std::make_unique<ObjectFloatProperty>(name, required, member, defaultValue));
}

void FUiScriptedProps::AddIntProperty(const char* name, bool required, int* member, int defaultValue)
{
    m_properties.push_back(std::make_unique<ObjectIntProperty>(name, required, member, defaultValue));
}

void FUiScriptedProps::AddBoolProperty(const char* name, bool required, bool* member, bool defaultValue)
{
    m_properties.push_back(std::make_unique<ObjectBoolProperty>(name, required, member, defaultValue));
}

void FUiScriptedProps::AddColorProperty(const char* name, bool required, FUiColor* member,
                                        const FUiColor& defaultValue)
{
    m_properties.push_back(std::make_unique<ObjectColorProperty>(name, required, member, defaultValue));
}

void FUiScriptedProps::AddImageProperty(const char* name, bool required, FIUiPixmap** member)
{
    m_properties.push_back(std::make_unique<ObjectImageProperty>(name, required, member));
}

bool FUiScriptedProps::LoadScriptedProps(FIUiApp* app, FPropList* tag)
{
    bool allRequired = true;
    for (auto& property : m_properties) {
        bool found = false;
        if (tag)
            property->ReadFromTag(app, tag, found);
        property->SetFound(found);
        if (!found && tag && tag->FindProp(property->GetName())) {
            FWideString owner;
            priGetOwnerName(owner);
            DebugTrace("Script property %s of %s has an unusable value '%s'.\n",
                       property->GetName().GetNarrow(), owner.GetNarrow(),
                       tag->FindProp(property->GetName())->GetValue().GetNarrow());
        }
        if (property->IsRequired() && !found)
            allRequired = false;
    }
    return allRequired;
}

void FUiScriptedProps::DumpScriptedProps()
{
    for (auto& property : m_properties) {
        FWideString defaultText;
        property->GetDefaultText(defaultText);
        DebugTrace("   PROP:%s%s %s Default = %s\n", property->IsRequired() ? " REQUIRED" : " OPTIONAL",
                   TypeWord(property->GetType()), property->GetName().GetNarrow(), defaultText.GetNarrow());
    }
}

bool FUiScriptedProps::WasPropertySet(const char* name) const
{
    for (const auto& property : m_properties) {
        if (property->GetName() == name)
            return property->WasFound();
    }
    return false;
}
