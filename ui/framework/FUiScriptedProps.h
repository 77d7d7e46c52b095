#pragma once

#include <memory>
#include <vector>

#include "FUiColor.h"
#include "FWideString.h"

class FIUiApp;
class FIUiPixmap;
class FPropList;

// Type codes of scripted properties; rectangle and point are reserved for the dump.
enum EUiPropertyType {
    kPropUnknown = 0,
    kPropString = 1,
    kPropFloat = 2,
    kPropInt = 3,
    kPropBool = 4,
    kPropColor = 5,
    kPropRect = 6,
    kPropPoint = 7,
    kPropImage = 8,
};

// One declared script attribute that reads itself into a member of its widget.
class FUiObjectProperty
{
public:
    FUiObjectProperty(const char* name, int type, bool required)
        : m_usName(name), m_iType(type), m_bRequired(required)
    {
    }
    virtual ~FUiObjectProperty() = default;
    FUiObjectProperty(const FUiObjectProperty&) = delete;
    FUiObjectProperty& operator=(const FUiObjectProperty&) = delete;

    // The member's current value is the lookup's default, so an absent attribute changes nothing.
    virtual void ReadFromTag(FIUiApp* app, FPropList* tag, bool& found) = 0;
    virtual void GetValueText(FWideString& text) = 0;
    virtual void GetDefaultText(FWideString& text) = 0;

    const FWideString& GetName() const { return m_usName; }
    int GetType() const { return m_iType; }
    bool IsRequired() const { return m_bRequired; }
    bool WasFound() const { return m_bFound; }
    void SetFound(bool found) { m_bFound = found; }

private:
    FWideString m_usName;
    int m_iType;
    bool m_bRequired;
    bool m_bFound = false;
};

// The declared script attributes of a widget, in declaration order. Each
// declaration puts its default into the member at once.
class FUiScriptedProps
{
public:
    FUiScriptedProps();
    virtual ~FUiScriptedProps();
    FUiScriptedProps(const FUiScriptedProps&) = delete;
    FUiScriptedProps& operator=(const FUiScriptedProps&) = delete;

    void AddStringProperty(const char* name, bool required, FWideString* member,
                           const FWideString& defaultValue);
    void AddFloatProperty(const char* name, bool required, double* member, double defaultValue);
    void AddIntProperty(const char* name, bool required, int* member, int defaultValue);
    void AddBoolProperty(const char* name, bool required, bool* member, bool defaultValue);
    void AddColorProperty(const char* name, bool required, FUiColor* member, const FUiColor& defaultValue);
    // The member is set to null; a loaded pixmap belongs to the widget.
    void AddImageProperty(const char* name, bool required, FIUiPixmap** member);

    // Reads every property (also after a required one is missing); true when
    // every required one was found.
    bool LoadScriptedProps(FIUiApp* app, FPropList* tag);
    void DumpScriptedProps();
    // The found flag of the first property of the name.
    bool WasPropertySet(const char* name) const;

    int GetPropertyCount() const { return static_cast<int>(m_properties.size()); }
    FUiObjectProperty* GetProperty(int index) const { return m_properties[static_cast<size_t>(index)].get(); }

protected:
    // For traces: whose properties these are.
    virtual void priGetOwnerName(FWideString& name) { name.Clear(); }

private:
    std::vector<std::unique_ptr<FUiObjectProperty>> m_properties;
};
