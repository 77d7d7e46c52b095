#include "FXmlWriter.h"

#include "FReplacingFile.h"

#include "FDebugTrace.h"
#include "FException.h"
#include "FIStorageClass.h"
#include "FPropList.h"
#include "FWideString.h"

#include <string>
#include <string_view>

namespace
{

void AppendUnits(std::u16string& line, const FWideString& text)
{
    line.append(text.GetBuffer(), static_cast<std::size_t>(text.GetLength()));
}

// Every character a standard reader would refuse or change is written as a
// numeric reference, which our reader decodes as well: markup characters,
// and control characters, which other readers fold into blanks. Numeric
// forms for the ampersand and the quote also read back right in builds that
// knew only those two.
void AppendValue(std::u16string& line, const FWideString& value)
{
    const std::u16string_view text(value.GetBuffer(), static_cast<std::size_t>(value.GetLength()));
    for (const char16_t c : text) {
        if (c == u'&' || c == u'<' || c == u'>' || c == u'"' || c < 0x20) {
            line += u"&#";
            for (const char digit : std::to_string(static_cast<unsigned>(c)))
                line += static_cast<char16_t>(digit);
            line += u';';
            continue;
        }
        line += c;
    }
}

void WriteLine(FIFile& file, const std::u16string& line)
{
    std::string bytes;
    bytes.reserve(line.size() * 2 + 4);
    auto put = [&bytes](char16_t unit) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    };
    for (char16_t unit : line)
        put(unit);
    put(u'\r');
    put(u'\n');
    file.Write(bytes.data(), static_cast<int>(bytes.size()));
}

void WriteNode(FIFile& file, const FPropList& node, int depth)
{
    std::u16string line(static_cast<std::size_t>(depth), u'\t');
    line += u'<';
    AppendUnits(line, node.GetName());
    for (const FPropPair* pair = node.GetFirstProp(); pair != nullptr; pair = pair->GetNext()) {
        line += u' ';
        AppendUnits(line, pair->GetName());
        line += u"=\"";
        AppendValue(line, pair->GetValue());
        line += u"\" ";
    }
    if (node.GetFirstChild() == nullptr) {
        // "</>" would read back as the end tag of an unnamed parent.
        if (node.GetName().IsEmpty() && node.GetFirstProp() == nullptr)
            line += u' ';
        line += u"/>";
        WriteLine(file, line);
        return;
    }
    line += u'>';
    WriteLine(file, line);
    for (const FPropList* child = node.GetFirstChild(); child != nullptr; child = child->GetNext())
        WriteNode(file, *child, depth + 1);
    line.assign(static_cast<std::size_t>(depth), u'\t');
    line += u"</";
    AppendUnits(line, node.GetName());
    line += u'>';
    WriteLine(file, line);
}

FWideString WithSuffix(const FWideString& name, const char* suffix)
{
    FWideString text = name;
    text += suffix;
    return text;
}

} // namespace

bool WritePropListXml(FPropList* root, FIFolder* folder, const FWideString& name)
{
    if (root == nullptr || folder == nullptr) {
        DebugTrace("WritePropListXml(%s): nothing to write\n", name.GetNarrow());
        return false;
    }
    try {
        FReplacingFile target(folder, name);
        FIFile& file = *target.GetFile();
        const unsigned char mark[2] = {0xFF, 0xFE};
        file.Write(mark, 2);
        for (const FPropList* node = root; node != nullptr; node = node->GetNext())
            WriteNode(file, *node, 0);
        target.Commit();
    } catch (const FException& e) {
        DebugTrace("WritePropListXml(%s): %s %s\n", name.GetNarrow(), e.GetDescription(), e.GetMessage());
        return false;
    }
    // Until now a backup may have been the only copy. Both names are leftovers
    // of an interrupted save of the older two-rename kind.
    try {
        for (const char* suffix : {".bak", ".tmp"}) {
            const FWideString leftover = WithSuffix(name, suffix);
            if (folder->Exists(leftover, nullptr))
                folder->DeleteFile(leftover);
        }
    } catch (const FException& e) {
        DebugTrace("WritePropListXml(%s): %s %s\n", name.GetNarrow(), e.GetDescription(), e.GetMessage());
    }
    return true;
}
