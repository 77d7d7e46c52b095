#pragma once

// The widget types a script can name. Each widget file has one registration
// function that registers one creator per type name it serves and answers the
// AND of the registrations. The declarations stand one to a paragraph so that
// families added on different branches merge without conflicts.

class FIUiObjectFactory;

// Registers every widget type with the factory, in the order the application
// has always used; true when every registration succeeded. Programs call it
// before the script is read.
bool RegisterUiWidgets(FIUiObjectFactory* factory);

// HBOX, VBOX: FUiHVBox.cpp
bool RegisterUiHVBox(FIUiObjectFactory* factory);

// SPACER: FUiSpacer.cpp
bool RegisterUiSpacer(FIUiObjectFactory* factory);

// IMAGE: FUiImage.cpp
bool RegisterUiImage(FIUiObjectFactory* factory);

// RESIZED_IMAGE: FUiResizedImage.cpp
bool RegisterUiResizedImage(FIUiObjectFactory* factory);

// TEXT: FUiText.cpp
bool RegisterUiText(FIUiObjectFactory* factory);

// BUTTON: FUiButton.cpp
bool RegisterUiButton(FIUiObjectFactory* factory);

// TEXTLIST: FUiTextList.cpp
bool RegisterUiTextList(FIUiObjectFactory* factory);

// BLINK: FUiBlink.cpp
bool RegisterUiBlink(FIUiObjectFactory* factory);

// TOGGLE: FUiToggle.cpp
bool RegisterUiToggle(FIUiObjectFactory* factory);

// FRAME: FUiFrame.cpp
bool RegisterUiFrame(FIUiObjectFactory* factory);

// RECT: FUiRect.cpp
bool RegisterUiRect(FIUiObjectFactory* factory);

// EDIT_BOX: FUiEdit.cpp
bool RegisterUiEdit(FIUiObjectFactory* factory);

// SLIDER: FUiSlider.cpp
bool RegisterUiSlider(FIUiObjectFactory* factory);

// PROGRESSBAR: FUiProgressBar.cpp
bool RegisterUiProgressBar(FIUiObjectFactory* factory);

// CLOCK: FUiClock.cpp
bool RegisterUiClock(FIUiObjectFactory* factory);

// DIRTREE: FUiTree.cpp
bool RegisterUiTree(FIUiObjectFactory* factory);

// SCROLLBAR, HSCROLLBAR, VSCROLLBAR: FUiScrollbar.cpp
bool RegisterUiScrollbar(FIUiObjectFactory* factory);

// SCROLLLIST: FUiScrollList.cpp
bool RegisterUiScrollList(FIUiObjectFactory* factory);

// CHECKBOX, RADIO_BUTTON: FUiCheckbox.cpp
bool RegisterUiCheckbox(FIUiObjectFactory* factory);

// TEXT_BOX, DYNA_TEXT: FUiTextBox.cpp
bool RegisterUiTextBox(FIUiObjectFactory* factory);

// FILMSTRIP: FUiFilmStrip.cpp
bool RegisterUiFilmStrip(FIUiObjectFactory* factory);

// SCROLLED_FRAME: FUiScrolledFrame.cpp
bool RegisterUiScrolledFrame(FIUiObjectFactory* factory);

// TIMER: FUiTimer.cpp
bool RegisterUiTimer(FIUiObjectFactory* factory);

// HLINE, VLINE: FUiHVLine.cpp
bool RegisterUiHVLine(FIUiObjectFactory* factory);

// IMAGE_FRAME: FUiImageFrame.cpp
bool RegisterUiImageFrame(FIUiObjectFactory* factory);

// PULLDOWN: FUiPullDownList.cpp
bool RegisterUiPullDownList(FIUiObjectFactory* factory);

// TEXTARRAY: FUiTextArray.cpp
bool RegisterUiTextArray(FIUiObjectFactory* factory);

// REPLY_REQUEST: FUiReplyRequest.cpp
bool RegisterUiReplyRequest(FIUiObjectFactory* factory);

// DYNA_STRING: FUiDynaString.cpp
bool RegisterUiDynaString(FIUiObjectFactory* factory);

// MULTITEXT: FUiMultiText.cpp
bool RegisterUiMultiText(FIUiObjectFactory* factory);

// VARIABLE: FUiVariable.cpp
bool RegisterUiVariable(FIUiObjectFactory* factory);

// STRCMP: FUiVariable.cpp
bool RegisterUiStrCmp(FIUiObjectFactory* factory);

// LANGUAGE: FUiText.cpp
bool RegisterUiLanguage(FIUiObjectFactory* factory);
