#pragma once

#include <vector>

#include "FUiObject.h"

class FIUiObjectFactory;
class FPropList;

// One value the install list asks for.
struct RegistryKeyRecord {
    FWideString rootName;
    FWideString subKey;
    FWideString valueName;
    FWideString data;
    FWideString typeName;
    bool written = false;
};

// REGISTRY: writes the install list's registry values into the registry store,
// reports them for the uninstall record, keeps the installation's language
// under the application's uninstall key, and at uninstallation deletes the
// recorded values (and with them keys left empty).
class FUiInstallRegistry : public FUiObject
{
public:
    explicit FUiInstallRegistry(const char* typeName);
    ~FUiInstallRegistry() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;

    // Values of the numeric types are stored as their text; unknown type names as "REG_NONE".
    static FWideString RegTypeFromName(const FWideString& name);
    const std::vector<RegistryKeyRecord>& GetKeyList() const { return m_keys; }

private:
    void priReadInstallList(const FWideString* pair);
    void priSaveToRegistry();
    void priUninstall(FPropList* tree);
    void priExpand(FWideString& text) const;
    bool priWrite(const RegistryKeyRecord& record);

    FWideString m_usExecutableName;
    FWideString m_usTargetDirectory;
    FWideString m_usTempURL;
    FWideString m_usSystemURL;
    FWideString m_usInstallLanguage;
    bool m_bLanguageWritten = false;
    FPropList* m_pInstallList = nullptr;
    std::vector<RegistryKeyRecord> m_keys;
    FPropList* m_pUninstallList = nullptr;
};

bool RegisterInstallRegistry(FIUiObjectFactory* factory);
