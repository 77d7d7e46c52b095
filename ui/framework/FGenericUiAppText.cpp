#include "FDebugTrace.h"
#include "FException.h"
#include "FGenericUiApp.h"
#include "FIStorageClass.h"
#include "FIUiPixmap.h"
#include "FPngPixmap.h"
#include "FPropList.h"

void FGenericUiApp::priReadFontsAndStrings(FPropList*) {}

void FGenericUiApp::priSelectLanguageEverywhere(const FWideString&) {}

bool FGenericUiApp::GetDisplayStringText(const FWideString&, FWideString&)
{
    return false;
}

const FWideString* FGenericUiApp::priMenuKeyText(int)
{
    return nullptr;
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
