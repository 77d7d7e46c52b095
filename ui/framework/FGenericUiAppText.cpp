#include "FDebugTrace.h"
#include "FException.h"
#include "FGenericUiApp.h"
#include "FIStorageClass.h"
#include "FIUiPixmap.h"
#include "FPngPixmap.h"
#include "FPropList.h"
#include "FUiMultiLangString.h"

void FGenericUiApp::priReadFontsAndStrings(FPropList* root)
{
    m_text.Read(root, IsMacOS(), IsWindowsOS(), m_usCurrentLanguage);
}

void FGenericUiApp::priSelectLanguageEverywhere(const FWideString& language)
{
    m_text.SelectLanguage(language);
}

bool FGenericUiApp::GetDisplayStringText(const FWideString& name, FWideString& text)
{
    FIUiMultiLangString* string = m_text.GetDisplayString(name);
    const FWideString* current = string != nullptr ? string->GetText() : nullptr;
    if (current == nullptr)
        return false;
    text = *current;
    return true;
}

const FWideString* FGenericUiApp::priMenuKeyText(int index)
{
    FIUiMultiLangString* string = m_text.GetDisplayString(m_menuKeyNames[index]);
    return string != nullptr ? string->GetText() : nullptr;
}

FIUiPixmap* FGenericUiApp::LoadUiPixmap(const FWideString& fileName)
{
    if (!m_pScriptFolder)
        return nullptr;
    FIFile* file = nullptr;
    try {
        file = m_pScriptFolder->OpenFile(fileName, kFileRead);
    } catch (const FException&) {
        file = nullptr;
    }
    if (!file)
        return nullptr;
    FPixmap_Display* decoded = LoadPngPixmap(file); // releases the file when it fails
    if (!decoded) {
        DebugTrace("***FAILED TO LOAD PNG file '%s'.\n", fileName.GetNarrow());
        return nullptr;
    }
    file->Release();
    FIUiPixmap* pixmap = CreateUiPixmapFromDisplay(decoded, false);
    FreePngPixmap(decoded);
    return pixmap;
}
