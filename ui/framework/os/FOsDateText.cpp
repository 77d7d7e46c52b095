#include "FOsDateText.h"

#include "FOsBackend.h"

#include <clocale>
#include <ctime>
#include <locale.h>

namespace
{

constexpr size_t kTextLimit = 256;

bool Format(uint32_t seconds, const char* format, std::string& text)
{
    const time_t t = static_cast<time_t>(seconds);
    struct tm calendar {
    };
    if (gmtime_r(&t, &calendar) == nullptr)
        return false;
    const char* name = GetOsBackend() == EOsBackend::kHeadless ? "C" : "";
    locale_t locale = newlocale(LC_TIME_MASK | LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr));
    if (locale == static_cast<locale_t>(nullptr))
        locale = newlocale(LC_TIME_MASK | LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
    if (locale == static_cast<locale_t>(nullptr))
        return false;
    char buffer[kTextLimit];
    const size_t length = strftime_l(buffer, sizeof(buffer), format, &calendar, locale);
    freelocale(locale);
    if (length == 0)
        return false;
    text.assign(buffer, length);
    return true;
}

} // namespace

bool FormatOsDate(uint32_t seconds, std::string& text)
{
    return Format(seconds, "%x", text);
}

bool FormatOsTime(uint32_t seconds, std::string& text)
{
    return Format(seconds, "%X", text);
}
