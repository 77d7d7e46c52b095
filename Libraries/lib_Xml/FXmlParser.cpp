#include "FXmlParser.h"

#include "FDebugTrace.h"

#include "FCodePage.h"
#include "FException.h"
#include "FIStorageClass.h"
#include "FNarrowString.h"
#include "FPropList.h"
#include "StorageClassRegistry.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <string_view>

namespace
{

struct ReleaseFile {
    void operator()(FIFile* file) const { file->Release(); }
};
using FilePtr = std::unique_ptr<FIFile, ReleaseFile>;

bool IsBlank(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

bool IsNameChar(char16_t c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'-' ||
           c == u'_' || c == u':' || c == u'.';
}

FWideString MakeString(const char16_t* units, std::size_t count)
{
    if (count == 0)
        return FWideString();
    return FWideString(units, units + count - 1);
}

FWideString Cat(const char* head, const FWideString& middle, const char* tail)
{
    FWideString text(head);
    text += middle;
    text += tail;
    return text;
}

bool StartsWith(const FWideString& text, const char* prefix)
{
    const FWideString wide(prefix);
    return text.GetLength() >= wide.GetLength() &&
           FWideString::priCompareUnits(text.GetBuffer(), wide.GetBuffer(), wide.GetLength()) == 0;
}

bool MatchesAt(const std::u16string_view text, std::size_t at, std::u16string_view piece)
{
    return text.substr(at, piece.size()) == piece;
}

// The longest reference decoded: "&#x10FFFF;" and "&#1114111;".
constexpr std::size_t kMaxReferenceLength = 10;

int DigitValue(char16_t c, bool hex)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (hex && c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (hex && c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// The code point of a numeric reference's body ("#65", "#x41"), or -1.
long NumericReference(std::u16string_view body)
{
    if (body.size() < 2 || body[0] != u'#')
        return -1;
    const bool hex = body[1] == u'x';
    const std::u16string_view digits = body.substr(hex ? 2 : 1);
    if (digits.empty())
        return -1;
    long value = 0;
    for (const char16_t c : digits) {
        const int digit = DigitValue(c, hex);
        if (digit < 0)
            return -1;
        value = value * (hex ? 16 : 10) + digit;
        if (value > 0x10FFFF)
            return -1;
    }
    return value;
}

// Appends what the reference at `at` stands for and returns its length, or 0
// when no reference starts there.
std::size_t DecodeReference(std::u16string_view text, std::size_t at, std::u16string& out)
{
    const std::size_t end = text.find(u';', at);
    if (end == std::u16string_view::npos || end - at > kMaxReferenceLength)
        return 0;
    const std::u16string_view body = text.substr(at + 1, end - at - 1);
    static const struct {
        std::u16string_view name;
        char16_t unit;
    } kEntities[] = {{u"amp", u'&'}, {u"lt", u'<'}, {u"gt", u'>'}, {u"quot", u'"'}, {u"apos", u'\''}};
    for (const auto& entity : kEntities) {
        if (body == entity.name) {
            out += entity.unit;
            return end - at + 1;
        }
    }
    const long code = NumericReference(body);
    if (code < 0)
        return 0;
    if (code > 0xFFFF) {
        out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
        out += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
        out += static_cast<char16_t>(code);
    }
    return end - at + 1;
}

// References are decoded; an ampersand that starts none stands as written,
// as files saved before values were escaped hold it bare.
FWideString DecodeValue(const char16_t* units, std::size_t count)
{
    const std::u16string_view text(units, count);
    if (text.find(u'&') == std::u16string_view::npos)
        return MakeString(units, count);
    std::u16string decoded;
    decoded.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t length = text[i] == u'&' ? DecodeReference(text, i, decoded) : 0;
        if (length == 0)
            decoded += text[i];
        else
            i += length - 1;
    }
    return MakeString(decoded.data(), decoded.size());
}

FIFile* OpenQuietly(FIFolder* folder, const FWideString& name)
{
    try {
        return folder->OpenFile(name, kFileRead);
    } catch (const FException&) {
        return nullptr;
    }
}

} // namespace

FXmlParser::FXmlParser() = default;

FXmlParser::~FXmlParser()
{
    DeletePropList(m_pPropList);
}

const FWideString& FXmlParser::GetFile(int index) const
{
    CheckArrayIndex(index, m_files.size());
    return m_files[static_cast<std::size_t>(index)];
}

void FXmlParser::priLog(const FWideString& line)
{
    m_usErrors += line;
}

void FXmlParser::priAddFile(const FWideString& url)
{
    m_files.push_back(url);
}

void FXmlParser::priCopySearchFolders(const FXmlParser& other)
{
    m_searchFolders.insert(m_searchFolders.end(), other.m_searchFolders.begin(), other.m_searchFolders.end());
}

FPropList* FXmlParser::ParseFile(FIFolder* folder, const FWideString& name)
{
    if (folder == nullptr) {
        priLog(Cat(" [FXmlParser::ParseFile(", name, ") folder pointer is NULL!]\n"));
        return nullptr;
    }
    m_searchFolders.insert(m_searchFolders.begin(), folder->GetURL());
    m_usFileName = name;
    m_pFolder = folder;

    FilePtr file(OpenQuietly(folder, name));
    if (!file) {
        // A save interrupted between setting the old file aside and putting the
        // new one in place left the old contents under this name.
        FWideString backup = name;
        backup += ".bak";
        file.reset(OpenQuietly(folder, backup));
        if (file)
            DebugTrace("FXmlParser::ParseFile(%s): read from its backup\n", name.GetNarrow());
    }
    if (!file)
        file.reset(priOpenScriptFile(name));
    if (!file) {
        priLog(Cat(" [FXmlParser::ParseFile(", name, ") call to priOpenScriptFile() failed!]\n"));
        return nullptr;
    }
    const FWideString url = file->GetURL();
    std::vector<FWideString> parts;
    SplitURL(url, parts);
    if (parts.size() > 1)
        parts.pop_back();
    JoinURL(parts, m_usFolderURL, true);
    priAddFile(url);

    // Members of one archive share its URL, so the name completes the key.
    m_usCurrentKey = url;
    m_usCurrentKey += "\n";
    m_usCurrentKey += name;
    if (std::find(m_includeChain.begin(), m_includeChain.end(), m_usCurrentKey) != m_includeChain.end() ||
        m_includeChain.size() >= static_cast<std::size_t>(kMaxXmlIncludeDepth)) {
        priLog(Cat(" [FXmlParser::ParseFile(", name, ") include loop: the file is already being read!]\n"));
        return nullptr;
    }

    const uint64_t size = file->GetSize();
    if (size == 0) {
        priLog(Cat(" [FXmlParser::ParseFile(", name, ") file size is zero bytes!]\n"));
        return nullptr;
    }
    std::vector<unsigned char> bytes;
    try {
        if (size > static_cast<uint64_t>(kMaxXmlFileSize))
            throw std::bad_alloc();
        bytes.resize(size);
    } catch (const std::bad_alloc&) {
        priLog(Cat(" [FXmlParser::ParseFile(", name, ") alloc of buffer for reading file failed!]\n"));
        const FNarrowString message("Failed to allocate '%llu' bytes for reading XML file '%s'",
                                    static_cast<unsigned long long>(size), name.GetNarrow());
        throw FExceptionXMLParser(message.GetCString());
    }
    file->Read(bytes.data(), static_cast<int>(size));
    file.reset();
    priDecode(bytes);
    bytes = std::vector<unsigned char>();

    DeletePropList(m_pPropList);
    m_pos = 0;
    int tagCount = 0;
    bool parsed = priParseTag(nullptr, &tagCount, 0);
    while (parsed && priSkipWhiteSpace())
        parsed = priParseTag(nullptr, &tagCount, 0);
    if (!parsed) {
        priLog(Cat(" [FXmlParser::ParseFile(", name, ") call to priParseTag() failed!]\n"));
        return nullptr;
    }
    if (m_pPropList == nullptr) {
        priLog(Cat(" [FXmlParser::ParseFile(", name, ") m_pPropList == NULL!]\n"));
        return nullptr;
    }
    if (!priPerformAllIncludes(folder, m_pPropList)) {
        DeletePropList(m_pPropList);
        priLog(Cat(" [FXmlParser::ParseFile(", name, ") call to priPerformAllIncludes() failed!]\n"));
        return nullptr;
    }
    FPropList* root = m_pPropList;
    m_pPropList = nullptr;
    return root;
}

void FXmlParser::priDecode(const std::vector<unsigned char>& bytes)
{
    m_text.clear();
    const std::size_t size = bytes.size();
    const bool little = size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
    const bool big = size >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF;
    if (!little && !big) {
        // 8-bit text: each byte widened as a signed value.
        m_text.reserve(size);
        for (unsigned char byte : bytes)
            m_text.push_back(static_cast<char16_t>(static_cast<int16_t>(static_cast<signed char>(byte))));
        return;
    }
    // The mark is skipped; an odd trailing byte is ignored.
    m_text.reserve(size / 2);
    for (std::size_t i = 2; i + 1 < size; i += 2) {
        const unsigned first = bytes[i];
        const unsigned second = bytes[i + 1];
        m_text.push_back(static_cast<char16_t>(little ? (first | second << 8) : (second | first << 8)));
    }
}

FIFile* FXmlParser::priOpenScriptFile(const FWideString& name)
{
    if (m_searchFolders.empty()) {
        try {
            return OpenFileURL(name, kFileRead);
        } catch (const FException&) {
            return nullptr;
        }
    }
    for (const FWideString& url : m_searchFolders) {
        FIFolder* folder = nullptr;
        try {
            FWideString fileName;
            folder = OpenFolderURL(url, fileName, false);
        } catch (const FException&) {
            folder = nullptr;
        }
        if (folder == nullptr)
            continue;
        FIFile* file = OpenQuietly(folder, name);
        folder->Release();
        if (file != nullptr)
            return file;
    }
    FWideString joined;
    JoinStrings(m_searchFolders, joined, FWideString(", "));
    FWideString line = Cat(" [FXmlParser::priOpenScriptFile(", name, ") failed to find the file in (");
    line += joined;
    line += ")]\n";
    priLog(line);
    return nullptr;
}

FWideString FXmlParser::priExpandEnvVar(const FWideString& value)
{
    const char16_t* units = value.GetBuffer();
    const std::u16string_view text(units, static_cast<std::size_t>(value.GetLength()));
    const std::size_t first = text.find(u'%');
    if (first == std::u16string_view::npos)
        return value;
    const std::size_t second = text.find(u'%', first + 1);
    if (second == std::u16string_view::npos)
        return value;
    const FWideString name = MakeString(units + first + 1, second - first - 1);
    FWideString expanded = MakeString(units, first);
    const std::string variable = Utf8FromWide(name);
    if (const char* setting = std::getenv(variable.c_str()))
        expanded += WideFromUtf8(setting);
    expanded += MakeString(units + second + 1, text.size() - second - 1);
    return expanded;
}

// Copies a subtree with its texts, which CloneInto leaves out.
static FPropList* CopyTree(const FPropList& source, FPropList* parent)
{
    auto* copy = new FPropList(parent, source.GetName());
    copy->SetText(source.GetText());
    copy->CopyPropsFrom(source);
    for (const FPropList* child = source.GetFirstChild(); child != nullptr; child = child->GetNext())
        CopyTree(*child, copy);
    return copy;
}

bool FXmlParser::priPerformAllIncludes(FIFolder* folder, FPropList* first)
{
    FPropList* node = first;
    while (node != nullptr) {
        if (!(node->GetName() == "xi:include")) {
            if (node->GetFirstChild() != nullptr && !priPerformAllIncludes(folder, node->GetFirstChild())) {
                priLog(FWideString(
                    " [FXmlParser::priPerformAllIncludes() call to priPerformAllIncludes() failed!]\n"));
                return false;
            }
            node = node->GetNext();
            continue;
        }
        if (node->GetFirstChild() != nullptr) {
            priLog(FWideString(" [FXmlParser::priPerformAllIncludes() include tag has children!]\n"));
            const FNarrowString message("Failed include tag should NOT have children in File '%s'",
                                        m_usFileName.GetNarrow());
            throw FExceptionXMLParser(message.GetCString());
        }
        const FPropPair* href = node->FindProp("href");
        if (href == nullptr) {
            priLog(FWideString(
                " [FXmlParser::priPerformAllIncludes() include did NOT have required property of href!]\n"));
            const FNarrowString message("Failed include did NOT have required property of href in File '%s'",
                                        m_usFileName.GetNarrow());
            throw FExceptionXMLParser(message.GetCString());
        }
        // The root cannot be replaced: its holder would be left pointing at a deleted node.
        FPropList* parent = node->GetParent();
        if (parent == nullptr) {
            priLog(FWideString(" [FXmlParser::priPerformAllIncludes() include tag is the root!]\n"));
            return false;
        }

        FXmlParser included;
        included.priCopySearchFolders(*this);
        included.m_includeChain = m_includeChain;
        included.m_includeChain.push_back(m_usCurrentKey);
        std::unique_ptr<FPropList> root(included.ParseFile(folder, href->GetValue()));
        if (!root) {
            priLog(included.GetErrors());
            priLog(Cat(" [FXmlParser::priPerformAllIncludes() call to pXmlParser->ParseFile(",
                       href->GetValue(), ") failed!]\n"));
            return false;
        }
        for (const FWideString& url : included.m_files) {
            if (std::find(m_files.begin(), m_files.end(), url) == m_files.end())
                m_files.push_back(url);
        }

        // The tree has no insertion in the middle, so the include's later
        // siblings are moved behind the included children by copying.
        std::vector<FPropList*> later;
        for (FPropList* sibling = node->GetNext(); sibling != nullptr; sibling = sibling->GetNext())
            later.push_back(sibling);
        for (const FPropList* child = root->GetFirstChild(); child != nullptr; child = child->GetNext())
            CopyTree(*child, parent);
        FPropList* next = nullptr;
        for (FPropList* sibling : later) {
            FPropList* copy = CopyTree(*sibling, parent);
            if (next == nullptr)
                next = copy;
            delete sibling;
        }
        delete node;
        node = next;
    }
    return true;
}

FWideString FXmlParser::priToken() const
{
    return MakeString(m_text.data() + m_tokenStart, m_tokenEnd - m_tokenStart);
}

void FXmlParser::priThrowTagError(const char* step, int tagCount)
{
    const FNarrowString message("%s failed in priParseTag() while parsing File '%s' Line '%d' TagDepth '%d'",
                                step, m_usFileName.GetNarrow(), m_iLine, tagCount);
    throw FExceptionXMLParser(message.GetCString());
}

void FXmlParser::priThrowPropError(const char* head, int tagCount, const FWideString& tagName, int propNumber)
{
    const std::string name = tagName.GetNarrow();
    const FNarrowString message(
        "%s while parsing File '%s' Line '%d' TagDepth '%d' TagName '%s' PropNumber '%d'", head,
        m_usFileName.GetNarrow(), m_iLine, tagCount, name.c_str(), propNumber);
    throw FExceptionXMLParser(message.GetCString());
}

bool FXmlParser::priParseTag(FPropList* parent, int* tagCount, int nesting)
{
    ++*tagCount;
    if (nesting >= kMaxXmlNesting) {
        priLog(FWideString(" [FXmlParser::priParseTag() elements nest too deeply!]\n"));
        const FNarrowString message("Failed because elements nest deeper than '%d' in priParseTag() while "
                                    "parsing File '%s' Line '%d' TagDepth '%d'",
                                    kMaxXmlNesting, m_usFileName.GetNarrow(), m_iLine, *tagCount);
        throw FExceptionXMLParser(message.GetCString());
    }
    if (!priSkipWhiteSpace()) {
        priLog(FWideString(" [FXmlParser::priParseTag() 1st priSkipWhiteSpace() failed!]\n"));
        priThrowTagError("1st priSkipWhiteSpace()", *tagCount);
    }
    if (!priSkipTagStart()) {
        priLog(FWideString(" [FXmlParser::priParseTag() priSkipTagStart() failed!]\n"));
        priThrowTagError("priSkipTagStart()", *tagCount);
    }
    if (priSkipComment())
        return true;
    if (!priSkipWhiteSpace()) {
        priLog(FWideString(" [FXmlParser::priParseTag() 2nd priSkipWhiteSpace() failed!]\n"));
        priThrowTagError("2nd priSkipWhiteSpace()", *tagCount);
    }
    if (!priSkipName()) {
        priLog(FWideString(" [FXmlParser::priParseTag() priSkipName() failed!]\n"));
        priThrowTagError("priSkipName()", *tagCount);
    }
    const FWideString name = priToken();
    FPropList* node = nullptr;
    if (parent != nullptr) {
        node = new FPropList(parent, name);
    } else {
        // Each top-level element replaces the one before.
        DeletePropList(m_pPropList);
        node = m_pPropList = new FPropList(nullptr, name);
    }
    bool selfClosed = false;
    if (!priParseProps(node, &selfClosed, *tagCount, name))
        return false;
    if (selfClosed)
        return true;
    if (!priSkipWhiteSpace()) {
        priLog(FWideString(" [FXmlParser::priParseTag() 3rd priSkipWhiteSpace() failed!]\n"));
        priThrowTagError("3rd priSkipWhiteSpace()", *tagCount);
    }
    for (;;) {
        if (priSkipEndTag(name))
            return true;
        const int text = priSkipText();
        if (text < 0)
            return false;
        if (text > 0) {
            node->SetText(priToken());
            continue;
        }
        if (!priParseTag(node, tagCount, nesting + 1)) {
            priLog(FWideString(" [FXmlParser::priParseTag() call to priParseTag() failed!]\n"));
            return false;
        }
        priSkipWhiteSpace();
    }
}

bool FXmlParser::priParseProps(FPropList* node, bool* selfClosed, int tagCount, const FWideString& tagName)
{
    *selfClosed = false;
    int propNumber = 0;
    for (;;) {
        if (m_pos >= m_text.size()) {
            priLog(FWideString(" [FXmlParser::priParseProps() EOF in top of loop!]\n"));
            priThrowPropError("Failed because at EOF in top of loop in priParseProps()", tagCount, tagName,
                              propNumber);
        }
        if (priSkipTagEnd(selfClosed))
            break;
        ++propNumber;
        if (!priSkipWhiteSpace()) {
            priLog(FWideString(" [FXmlParser::priParseProps() 1st priSkipWhiteSpace() failed!]\n"));
            priThrowPropError("1st priSkipWhiteSpace() failed in priParseProps()", tagCount, tagName,
                              propNumber);
        }
        if (!priSkipName()) {
            priLog(FWideString(" [FXmlParser::priParseProps() call to priSkipName() failed!]\n"));
            priThrowPropError("priSkipName() failed in priParseProps()", tagCount, tagName, propNumber);
        }
        const FWideString propName = priToken();
        if (!priSkipWhiteSpace()) {
            priLog(FWideString(" [FXmlParser::priParseProps() 2nd priSkipWhiteSpace() failed!]\n"));
            priThrowPropError("2nd priSkipWhiteSpace() failed in priParseProps()", tagCount, tagName,
                              propNumber);
        }
        if (!priSkipEquals()) {
            priLog(FWideString(" [FXmlParser::priParseProps() call to priSkipEquals() failed!]\n"));
            priThrowPropError("priSkipEquals() failed in priParseProps()", tagCount, tagName, propNumber);
        }
        if (!priSkipWhiteSpace()) {
            priLog(FWideString(" [FXmlParser::priParseProps() 3rd priSkipWhiteSpace() failed!]\n"));
            priThrowPropError("3rd priSkipWhiteSpace() failed in priParseProps()", tagCount, tagName,
                              propNumber);
        }
        if (!priSkipQuotedString()) {
            priLog(FWideString(" [FXmlParser::priParseProps() call to priSkipQuotedString() failed!]\n"));
            priThrowPropError("priSkipQuotedString() failed in priParseProps()", tagCount, tagName,
                              propNumber);
        }
        FWideString value = DecodeValue(m_text.data() + m_tokenStart, m_tokenEnd - m_tokenStart);
        if (StartsWith(propName, "File_")) {
            FilePtr file(m_pFolder != nullptr ? OpenQuietly(m_pFolder, value) : nullptr);
            if (!file)
                file.reset(priOpenScriptFile(value));
            if (file)
                priAddFile(file->GetURL());
        } else if (StartsWith(propName, "Build_Path")) {
            value = priExpandEnvVar(value);
            FWideString url;
            if (!NativePathToURL(value, url))
                url.Clear();
            priAddFile(url);
        }
        node->AddProp(propName, value);
        if (!priSkipWhiteSpace()) {
            priLog(FWideString(" [FXmlParser::priParseProps() 4th priSkipWhiteSpace() failed!]\n"));
            priThrowPropError("4th priSkipWhiteSpace() failed in priParseProps()", tagCount, tagName,
                              propNumber);
        }
    }
    if (!*selfClosed && m_pos >= m_text.size()) {
        priLog(FWideString(" [FXmlParser::priParseProps() at EOF before return!]\n"));
        priThrowPropError("Failed because at EOF before return from priParseProps()", tagCount, tagName,
                          propNumber);
    }
    return true;
}

bool FXmlParser::priSkipWhiteSpace()
{
    while (m_pos < m_text.size() && IsBlank(m_text[m_pos])) {
        if (m_text[m_pos] == u'\r')
            ++m_iLine;
        ++m_pos;
    }
    return m_pos < m_text.size();
}

bool FXmlParser::priSkipTagStart()
{
    if (m_pos >= m_text.size() || m_text[m_pos] != u'<')
        return false;
    ++m_pos;
    return true;
}

bool FXmlParser::priSkipName()
{
    m_tokenStart = m_pos;
    while (m_pos < m_text.size() && IsNameChar(m_text[m_pos]))
        ++m_pos;
    m_tokenEnd = m_pos;
    return m_pos < m_text.size();
}

bool FXmlParser::priSkipEquals()
{
    if (m_pos >= m_text.size() || m_text[m_pos] != u'=')
        return false;
    ++m_pos;
    return true;
}

bool FXmlParser::priSkipQuotedString()
{
    if (m_pos >= m_text.size() || m_text[m_pos] != u'"')
        return false;
    const auto close = std::find(m_text.begin() + static_cast<std::ptrdiff_t>(m_pos) + 1, m_text.end(), u'"');
    if (close == m_text.end())
        return false;
    m_tokenStart = m_pos + 1;
    m_tokenEnd = static_cast<std::size_t>(close - m_text.begin());
    m_pos = m_tokenEnd + 1;
    return true;
}

bool FXmlParser::priSkipTagEnd(bool* selfClosed)
{
    priSkipWhiteSpace();
    const std::size_t size = m_text.size();
    if (m_pos < size && m_text[m_pos] == u'>') {
        ++m_pos;
        *selfClosed = false;
        return true;
    }
    if (m_pos + 1 < size && m_text[m_pos] == u'/' && m_text[m_pos + 1] == u'>') {
        m_pos += 2;
        *selfClosed = true;
        return true;
    }
    return false;
}

bool FXmlParser::priSkipEndTag(const FWideString& name)
{
    const std::size_t length = static_cast<std::size_t>(name.GetLength());
    const std::size_t size = m_text.size();
    if (m_pos > size || size - m_pos < length + 3)
        return false;
    const char16_t* at = m_text.data() + m_pos;
    if (at[0] != u'<' || at[1] != u'/' || at[length + 2] != u'>')
        return false;
    if (!std::equal(name.GetBuffer(), name.GetBuffer() + length, at + 2))
        return false;
    m_pos += length + 3;
    return true;
}

bool FXmlParser::priSkipComment()
{
    const std::u16string_view text(m_text.data(), m_text.size());
    if (!MatchesAt(text, m_pos, u"!--"))
        return false;
    // The first "--" must end the comment.
    const std::size_t dashes = text.find(u"--", m_pos + 3);
    if (dashes == std::u16string_view::npos || !MatchesAt(text, dashes, u"-->"))
        return false;
    m_pos = dashes + 3;
    return true;
}

int FXmlParser::priSkipText()
{
    if (m_pos >= m_text.size())
        return -1;
    if (m_text[m_pos] == u'<')
        return 0;
    const auto next = std::find(m_text.begin() + static_cast<std::ptrdiff_t>(m_pos), m_text.end(), u'<');
    if (next == m_text.end())
        return -1;
    m_tokenStart = m_pos;
    m_tokenEnd = static_cast<std::size_t>(next - m_text.begin());
    m_pos = m_tokenEnd;
    return 1;
}
