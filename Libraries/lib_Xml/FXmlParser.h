#pragma once

#include "FWideString.h"

#include <cstddef>
#include <vector>

class FIFile;
class FIFolder;
class FPropList;

// Reader of the system's own restricted XML dialect: elements, attributes in
// double quotes, text and comments; no declarations. Attribute values decode
// character references and the five predefined entities; any other ampersand
// stands as written. Files are reached through the storage
// classes; while reading, the URL of every file the script refers to is
// collected in the file list.
class FXmlParser
{
public:
    FXmlParser();
    ~FXmlParser();
    FXmlParser(const FXmlParser&) = delete;
    FXmlParser& operator=(const FXmlParser&) = delete;

    // The root (the caller owns it) or null with a line in the error log.
    // Syntax errors throw FExceptionXMLParser; the parser is then fit only for
    // destruction. Includes are resolved through the same folder object.
    FPropList* ParseFile(FIFolder* folder, const FWideString& name);

    // Every failure appends one bracketed line.
    const FWideString& GetErrors() const { return m_usErrors; }
    // URLs of the files read or referred to, without repeats from includes.
    int GetFileCount() const { return static_cast<int>(m_files.size()); }
    const FWideString& GetFile(int index) const;
    const std::vector<FWideString>& GetFiles() const { return m_files; }
    // Folder URLs searched for files, in order; ParseFile puts the folder's first.
    void AddSearchFolder(const FWideString& url) { m_searchFolders.push_back(url); }
    const std::vector<FWideString>& GetSearchFolders() const { return m_searchFolders; }
    // URL of the folder of the file read, ending in "/".
    const FWideString& GetFolderURL() const { return m_usFolderURL; }

    // Appends another parser's search folder URLs.
    void priCopySearchFolders(const FXmlParser& other);
    // The first "%NAME%" pair is replaced by the variable's value (UTF-8; nothing when unset).
    static FWideString priExpandEnvVar(const FWideString& value);

private:
    void priDecode(const std::vector<unsigned char>& bytes);
    FIFile* priOpenScriptFile(const FWideString& name);
    bool priPerformAllIncludes(FIFolder* folder, FPropList* first);
    bool priParseTag(FPropList* parent, int* tagCount, int nesting);
    bool priParseProps(FPropList* node, bool* selfClosed, int tagCount, const FWideString& tagName);

    bool priSkipWhiteSpace();
    bool priSkipTagStart();
    bool priSkipName();
    bool priSkipEquals();
    bool priSkipQuotedString();
    bool priSkipTagEnd(bool* selfClosed);
    bool priSkipEndTag(const FWideString& name);
    bool priSkipComment();
    // 1 text read, 0 no text here, -1 text runs to the end of the buffer.
    int priSkipText();

    void priLog(const FWideString& line);
    [[noreturn]] void priThrowTagError(const char* step, int tagCount);
    [[noreturn]] void priThrowPropError(const char* step, int tagCount, const FWideString& tagName,
                                        int propNumber);
    FWideString priToken() const;
    void priAddFile(const FWideString& url);

    FWideString m_usFileName;
    FWideString m_usFolderURL;
    FWideString m_usErrors;
    // The whole file as UTF-16 units; 8-bit files are widened byte by byte as signed values.
    std::vector<char16_t> m_text;
    std::size_t m_pos = 0;
    std::size_t m_tokenStart = 0;
    std::size_t m_tokenEnd = 0;
    FPropList* m_pPropList = nullptr;
    int m_iLine = 0;
    std::vector<FWideString> m_files;
    std::vector<FWideString> m_searchFolders;
    // Files being read by this parser and the parsers that include it, so
    // that an include loop fails instead of recursing without end.
    std::vector<FWideString> m_includeChain;
    // The key of the file this parser reads: its URL and the name it was opened by.
    FWideString m_usCurrentKey;
    // The folder given to ParseFile, while it runs. "File_" values are looked
    // up there first: an archive's members cannot be reached by folder URL.
    FIFolder* m_pFolder = nullptr;
};

// Deepest element nesting and include chain the reader accepts.
constexpr int kMaxXmlNesting = 256;
constexpr int kMaxXmlIncludeDepth = 32;
// Largest file the reader loads.
constexpr long long kMaxXmlFileSize = 256LL * 1024 * 1024;
