#include "FUiDateText.h"

#include "FCodePage.h"
#include "FOsDateText.h"
#include "FWideString.h"

#include <string>

void FormatDateString(FWideString& text, uint32_t seconds)
{
    std::string formatted;
    if (FormatOsDate(seconds, formatted))
        text = WideFromUtf8(formatted);
    else
        text = "DATE CONVERSION FAILED";
}

void FormatTimeString(FWideString& text, uint32_t seconds)
{
    std::string formatted;
    if (FormatOsTime(seconds, formatted))
        text = WideFromUtf8(formatted);
    else
        text = "TIME CONVERSION FAILED";
}
