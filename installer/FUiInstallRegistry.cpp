#include "FUiInstallRegistry.h"

#include <algorithm>

#include "FBundleFolder.h"
#include "FCodePage.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FIStorageClass.h"
#include "FPropList.h"
#include "FRegistryStore.h"
#include "FUiInstallCopyControl.h"
#include "FXmlParser.h"
#include "InstallerPaths.h"
#include "StorageClassRegistry.h"

namespace
{

const char* const kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Rawbench";
const char* const kDriverKey = "System\\CurrentControlSet\\Services\\B1394";
const char* const kMachineRoot = "HKEY_LOCAL_MACHINE";

const char* const kTypes[] = {"REG_BINARY",           "REG_SZ",        "REG_DWORD", "REG_DWORD_LITTLE_ENDIAN",
                              "REG_DWORD_BIG_ENDIAN", "REG_EXPAND_SZ", "REG_LINK",  "REG_MULTI_SZ",
                              "REG_RESOURCE_LIST"};

} // namespace

FWideString FUiInstallRegistry::RegTypeFromName(const FWideString& name)
{
    const bool known =
        std::any_of(std::begin(kTypes), std::end(kTypes), [&](const char* type) { return name == type; });
    return known ? name : FWideString("REG_NONE");
}

FUiInstallRegistry::FUiInstallRegistry(const char* typeName)
    : FUiObject(typeName), m_usExecutableName(kProgramName)
{
    AddEvent(FWideString("ON_SEND_UNINSTALL_TREE"));
}

FUiInstallRegistry::~FUiInstallRegistry()
{
    DeletePropList(m_pInstallList);
    DeletePropList(m_pUninstallList);
}

bool FUiInstallRegistry::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    return InitNonVisualUiObject(this, app, window, parent, tag);
}

bool FUiInstallRegistry::UiRelayMessage(const FWideString& message, void* data)
{
    // Every message is answered false, also those acted on.
    FWideString* text = static_cast<FWideString*>(data);
    FIRegistryStore& store = GetRegistryStore();
    if (message == "Post Creation Initialization") {
        m_usTempURL = SpecialFolderUrl(kSpecialPathTemp);
        m_usSystemURL = SpecialFolderUrl(kSpecialPathSystemRoot);
    } else if (message == "TargetDirectory" && text) {
        m_usTargetDirectory = *text;
    } else if (message == "ExecutableName" && text) {
        m_usExecutableName = *text;
    } else if (message == "RegistryFile" && data) {
        priReadInstallList(static_cast<FWideString*>(data));
    } else if (message == "CheckDriverInstall" && text) {
        if (store.Read(FWideString(kMachineRoot), FWideString(kDriverKey), FWideString("ImagePath"), *text) ==
            ERegistryRead::kKeyMissing)
            text->Clear();
    } else if (message == "CheckLanguage" && text) {
        if (store.Read(FWideString(kMachineRoot), FWideString(kUninstallKey), FWideString("Language"),
                       *text) == ERegistryRead::kKeyMissing)
            text->Clear();
    } else if (message == "GetUninstallFile" && text) {
        if (store.Read(FWideString(kMachineRoot), FWideString(kUninstallKey), FWideString("LogFile"),
                       *text) == ERegistryRead::kKeyMissing)
            text->Clear();
    } else if (message == "InstallLanguage" && text) {
        m_usInstallLanguage = *text;
        m_bLanguageWritten =
            priWrite(RegistryKeyRecord{FWideString(kMachineRoot), FWideString(kUninstallKey),
                                       FWideString("Language"), *text, FWideString("REG_SZ")});
    } else if (message == "SaveToRegistry") {
        priSaveToRegistry();
    } else if (message == "UninstallTree" && data) {
        priUninstall(static_cast<FPropList*>(data));
    }
    return false;
}

void FUiInstallRegistry::priReadInstallList(const FWideString* pair)
{
    DeletePropList(m_pInstallList);
    m_pInstallList = ReadInstallListAt(pair);
}

void FUiInstallRegistry::priExpand(FWideString& text) const
{
    ReplaceAllTokens(text, FWideString("<EXE>"), m_usExecutableName);
    ReplaceAllTokens(text, FWideString("<TARGETDIR>"), NativeOf(m_usTargetDirectory));
    ReplaceAllTokens(text, FWideString("<TEMPDIR>"), NativeOf(m_usTempURL));
    ReplaceAllTokens(text, FWideString("<SYSTEMDIR>"), NativeOf(m_usSystemURL));
    ReplaceAllTokens(text, FWideString("&quot;"), FWideString("\""));
}

bool FUiInstallRegistry::priWrite(const RegistryKeyRecord& record)
{
    switch (GetRegistryStore().Write(record.rootName, record.subKey, record.valueName, record.data,
                                     record.typeName)) {
    case ERegistryWrite::kOk:
        return true;
    case ERegistryWrite::kRefused:
        return false;
    case ERegistryWrite::kAccessDenied:
        throw FException("Access Denied!  Cannot write to that registry key!\n");
    case ERegistryWrite::kFailed:
        break;
    }
    FWideString text;
    text.Format("Couldn't set Registry key value!  Subkey : %s Value : %s Data : %s\n",
                Utf8FromWide(record.subKey).c_str(), Utf8FromWide(record.valueName).c_str(),
                Utf8FromWide(record.data).c_str());
    throw FException(Utf8FromWide(text).c_str());
}

void FUiInstallRegistry::priSaveToRegistry()
{
    if (!m_pInstallList)
        return;
    for (FPropList* list = m_pInstallList->GetFirstChild(); list; list = list->GetNext()) {
        if (!(list->GetName() == "REGISTRY_KEYS"))
            continue;
        for (FPropList* key = list->GetFirstChild(); key; key = key->GetNext()) {
            for (FPropList* value = key->GetFirstChild(); value; value = value->GetNext()) {
                RegistryKeyRecord record;
                record.rootName = key->GetString(FWideString("HKEY_Name"), FWideString("KeyName"));
                record.subKey = value->GetString(FWideString("Name"), FWideString("Sub Key Name"));
                record.valueName = value->GetString(FWideString("Value"), FWideString("Sub Key Value"));
                record.data = value->GetString(FWideString("Data"), FWideString("Sub Key Data"));
                record.typeName = RegTypeFromName(
                    value->GetString(FWideString("Reg_Type"), FWideString("Registry Key Type")));
                priExpand(record.subKey);
                priExpand(record.valueName);
                priExpand(record.data);
                m_keys.push_back(record);
            }
        }
    }
    if (m_keys.empty() && !m_bLanguageWritten)
        return;
    for (RegistryKeyRecord& record : m_keys)
        record.written = priWrite(record);
    DeletePropList(m_pUninstallList);
    m_pUninstallList = new FPropList(nullptr, "UNINSTALL_REGISTRY_KEYS");
    auto add = [&](const RegistryKeyRecord& record) {
        FPropList* node = new FPropList(m_pUninstallList, "REGISTRY_KEY");
        node->AddProp(FWideString("HKEY_Name"), record.rootName);
        node->AddProp(FWideString("SubKey_Name"), record.subKey);
        node->AddProp(FWideString("SubKey_Value"), record.valueName);
    };
    // The language is ours as well, so the uninstallation takes it along.
    if (m_bLanguageWritten)
        add(RegistryKeyRecord{FWideString(kMachineRoot), FWideString(kUninstallKey), FWideString("Language"),
                              m_usInstallLanguage, FWideString("REG_SZ")});
    for (const RegistryKeyRecord& record : m_keys) {
        if (record.written)
            add(record);
    }
    if (RelayEvent* event = FindEvent(FWideString("ON_SEND_UNINSTALL_TREE")))
        event->Fire(m_pUninstallList);
}

void FUiInstallRegistry::priUninstall(FPropList* tree)
{
    // Only the recorded values go: other programs' values under a shared key stay,
    // and a key disappears with its last value.
    FIRegistryStore& store = GetRegistryStore();
    for (FPropList* list = tree->GetFirstChild(); list; list = list->GetNext()) {
        if (!(list->GetName() == "UNINSTALL_REGISTRY_KEYS"))
            continue;
        for (FPropList* key = list->GetFirstChild(); key; key = key->GetNext()) {
            const FWideString root = key->GetString(FWideString("HKEY_Name"), FWideString("KeyName"));
            const FWideString subKey =
                key->GetString(FWideString("SubKey_Name"), FWideString("Sub Key Name"));
            const FWideString value =
                key->GetString(FWideString("SubKey_Value"), FWideString("Sub Key Value"));
            if (FMemoryRegistryStore::NormalKey(subKey).IsEmpty())
                continue;
            store.DeleteValue(root, subKey, value);
        }
    }
}

bool RegisterInstallRegistry(FIUiObjectFactory* factory)
{
    return RegisterInstallerCreator<FUiInstallRegistry>(factory, "REGISTRY");
}
