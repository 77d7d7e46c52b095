#pragma once

// The user-interface script fixture: a temporary script folder holding a small
// ASCII script in the project's XML dialect and PNG skins made at set-up, so
// that no binary file is kept in the tree.

#include <cstdint>
#include <memory>
#include <string>

#include "FScopedTempFolder.h"
#include "FUiColor.h"
#include "FWideString.h"

class FIFolder;
class FPropList;

// Variants of the base script.
enum class EUiScriptVariant {
    kBase,           // persistent store on
    kNoPersistence,  // without HasPersistantDataStore
    kSingleInstance, // _SingleInstApp with a declared name and a family name
};

// The base script text of a variant.
std::string UiBaseScript(EUiScriptVariant variant = EUiScriptVariant::kBase);

// Writes an 8-bit RGBA PNG filled with `fill`, whose pixel (0, 0) is `mark`.
bool WriteTestPng(const std::string& path, int width, int height, const FUiColor& fill, const FUiColor& mark);
// The bytes of the same picture, for storage classes that keep files in memory; empty on failure.
std::string TestPngBytes(int width, int height, const FUiColor& fill, const FUiColor& mark);

// Makes sure the disk storage class is registered.
void EnsureDiskStorageClass();

class FUiScriptFolder
{
public:
    FUiScriptFolder();
    ~FUiScriptFolder();
    FUiScriptFolder(const FUiScriptFolder&) = delete;
    FUiScriptFolder& operator=(const FUiScriptFolder&) = delete;

    const std::string& GetPath() const { return m_temp.GetPath(); }
    std::string Join(const std::string& name) const { return m_temp.Join(name); }
    FWideString GetUrl() const;

    bool WriteFile(const std::string& name, const std::string& bytes) const
    {
        return m_temp.WriteFile(name, bytes);
    }
    bool ReadFile(const std::string& name, std::string& bytes) const { return m_temp.ReadFile(name, bytes); }
    // The base script as "ui.xml" plus the standard skins.
    void WriteBase(EUiScriptVariant variant = EUiScriptVariant::kBase);
    // Solid skins with a marked first pixel, named by what they dress.
    void WriteSkins() const;

    // A new folder object on the script folder; the caller releases it.
    FIFolder* OpenFolder() const;

    // Parses a script text (written as `name`) and returns its root, or null.
    std::unique_ptr<FPropList> Parse(const std::string& text, const std::string& name = "snippet.xml") const;

private:
    FScopedTempFolder m_temp;
};
