#include "FDebugTrace.h"
#include "FGenericUiApp.h"
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

FIUiPixmap* FGenericUiApp::LoadUiPixmap(const FWideString&)
{
    return nullptr;
}
