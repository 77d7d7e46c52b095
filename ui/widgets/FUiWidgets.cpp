#include "FUiWidgets.h"

bool RegisterUiWidgets(FIUiObjectFactory* factory)
{
    if (!factory)
        return false;
    bool all = true;
    // A family not yet built stays commented out; building it means removing
    // the two slashes of its line, nothing else.

    all = RegisterUiHVBox(factory) && all;

    all = RegisterUiSpacer(factory) && all;

    all = RegisterUiImage(factory) && all;

    all = RegisterUiResizedImage(factory) && all;

    all = RegisterUiText(factory) && all;

    // all = RegisterUiButton(factory) && all;

    // all = RegisterUiTextList(factory) && all;

    // all = RegisterUiBlink(factory) && all;

    // all = RegisterUiToggle(factory) && all;

    all = RegisterUiFrame(factory) && all;

    all = RegisterUiRect(factory) && all;

    all = RegisterUiEdit(factory) && all;

    // all = RegisterUiSlider(factory) && all;

    // all = RegisterUiProgressBar(factory) && all;

    // all = RegisterUiClock(factory) && all;

    all = RegisterUiTree(factory) && all;

    all = RegisterUiScrollbar(factory) && all;

    all = RegisterUiScrollList(factory) && all;

    // all = RegisterUiCheckbox(factory) && all;

    // all = RegisterUiTextBox(factory) && all;

    // all = RegisterUiFilmStrip(factory) && all;

    all = RegisterUiScrolledFrame(factory) && all;

    // all = RegisterUiTimer(factory) && all;

    all = RegisterUiHVLine(factory) && all;

    all = RegisterUiImageFrame(factory) && all;

    all = RegisterUiPullDownList(factory) && all;

    // all = RegisterUiTextArray(factory) && all;

    // all = RegisterUiReplyRequest(factory) && all;

    // all = RegisterUiDynaString(factory) && all;

    // all = RegisterUiMultiText(factory) && all;

    // all = RegisterUiVariable(factory) && all;

    // all = RegisterUiStrCmp(factory) && all;

    all = RegisterUiLanguage(factory) && all;

    return all;
}
