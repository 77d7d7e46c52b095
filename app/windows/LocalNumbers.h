#pragma once

// Numbers in the words of the current language: the decimal mark is the text of the
// display string "DecimalMark" ("," in French and German), "." without it.

class FIUiApp;
class FWideString;

// Every '.' between two digits becomes the language's decimal mark.
void UseLocalDecimalMark(FIUiApp* app, FWideString& text);
