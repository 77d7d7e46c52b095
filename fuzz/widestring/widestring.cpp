// Native names as bytes through UTF-16 and back, and a stream of string
// edits driven by the input, checked against a plain model.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FCodePage.h"
#include "FWideString.h"

namespace
{

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckSame(const FWideString& s, const std::u16string& model)
{
    Check(s.GetLength() == static_cast<int>(model.size()));
    Check(std::u16string(s.GetBuffer(), s.GetLength()) == model);
    Check(s.GetBuffer()[s.GetLength()] == 0);
    const char* narrow = s.GetNarrow();
    for (size_t i = 0; i < model.size(); ++i)
        Check(narrow[i] == (model[i] >= 127 ? '?' : static_cast<char>(model[i])));
    Check(narrow[model.size()] == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    Check(Utf16ToUtf8(Utf8ToUtf16(bytes)) == bytes);

    FWideString s;
    std::u16string model;
    for (size_t i = 0; i + 2 < size; i += 3) {
        const int op = data[i] % 8;
        const char16_t unit = static_cast<char16_t>(data[i + 1] | (data[i + 2] << 8));
        const int position = data[i + 1] % 40;
        const int count = data[i + 2] % 40;
        switch (op) {
        case 0:
            s += unit;
            if (unit == 8 && !model.empty())
                model.pop_back();
            else if (unit != 0 && unit != 8)
                model += unit;
            break;
        case 1:
            s.Append(unit);
            model += unit;
            break;
        case 2:
            s.Insert(unit, position);
            model.insert(std::min<size_t>(position, model.size()), 1, unit);
            break;
        case 3:
            s.Erase(position, count);
            if (count > 0 && static_cast<size_t>(position) < model.size())
                model.erase(position, count);
            break;
        case 4:
            if (static_cast<size_t>(count) <= model.size()) {
                model.resize(model.size() - count);
            }
            Check(s.DropRight(count) == static_cast<int>(model.size()));
            break;
        case 5: {
            FWideString left, right;
            const FWideString separator(std::u16string(1, unit).c_str());
            const bool found = s.Split(separator, left, right);
            const size_t at = model.find(unit);
            if (!model.empty() && unit != 0) {
                Check(found == (at != std::u16string::npos));
                if (found) {
                    CheckSame(left, model.substr(0, at));
                    CheckSame(right, model.substr(at + 1));
                }
            }
            break;
        }
        case 6:
            s.ToLower();
            for (char16_t& c : model) {
                if (c >= u'A' && c <= u'Z')
                    c = static_cast<char16_t>(c + 32);
            }
            break;
        case 7: {
            const FWideString copy(s);
            s = copy;
            Check(s == copy);
            Check(s.CompareNoCase(copy.GetBuffer()) == 0 || model.find(char16_t(0)) != std::u16string::npos);
            break;
        }
        }
        CheckSame(s, model);
    }
    return 0;
}
