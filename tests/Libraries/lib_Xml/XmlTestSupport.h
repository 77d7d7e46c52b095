#pragma once

// Folders of an in-memory storage class for the XML reader and writer tests,
// one per test, and a compact text form of trees for comparisons.

#include "FCodePage.h"
#include "FException.h"
#include "FMemStorageClass.h"
#include "FPropList.h"
#include "FXmlParser.h"
#include "StorageClassRegistry.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

inline FMemStorageClass& XmlStorage()
{
    static FMemStorageClass* storage = RegisterMemStorageClass(FWideString("xmltest"));
    return *storage;
}

// UTF-16 text as bytes, little-endian or big-endian, with its byte-order mark.
inline std::string Utf16Bytes(const std::u16string& text, bool bigEndian = false)
{
    std::string bytes = bigEndian ? std::string("\xFE\xFF") : std::string("\xFF\xFE");
    for (char16_t unit : text) {
        const char low = static_cast<char>(unit & 0xFF);
        const char high = static_cast<char>(unit >> 8);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

inline std::string Narrow(const FWideString& text)
{
    return Utf8FromWide(text);
}

// name[pair=value;...](text){children}
inline std::string Dump(const FPropList* node)
{
    if (node == nullptr)
        return "null";
    std::string text = Narrow(node->GetName()) + "[";
    for (const FPropPair* pair = node->GetFirstProp(); pair != nullptr; pair = pair->GetNext())
        text += Narrow(pair->GetName()) + "=" + Narrow(pair->GetValue()) + ";";
    text += "]";
    if (!node->GetText().IsEmpty())
        text += "(" + Narrow(node->GetText()) + ")";
    if (node->GetFirstChild() != nullptr) {
        text += "{";
        for (const FPropList* child = node->GetFirstChild(); child != nullptr; child = child->GetNext())
            text += Dump(child);
        text += "}";
    }
    return text;
}

struct XmlParse {
    std::unique_ptr<FPropList> m_root;
    std::string m_errors;
    std::string m_exception; // empty when nothing was thrown
    std::vector<std::string> m_files;
};

class XmlFolderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_path = std::string(info->test_suite_name()) + "_" + info->name();
        XmlStorage().MakeFolder(FWideString(m_path.c_str()));
        FWideString fileName;
        m_pFolder = OpenFolderURL(Url(""), fileName, false);
        ASSERT_NE(m_pFolder, nullptr);
    }
    void TearDown() override
    {
        if (m_pFolder != nullptr)
            m_pFolder->Release();
    }

    FWideString Path(const std::string& name) const { return FWideString((m_path + "/" + name).c_str()); }
    FWideString Url(const std::string& name) const
    {
        return FWideString(("xmltest://" + m_path + (name.empty() ? "" : "/" + name)).c_str());
    }
    void Put(const std::string& name, const std::string& bytes) { XmlStorage().PutFile(Path(name), bytes); }
    bool Get(const std::string& name, std::string& bytes) const
    {
        return XmlStorage().GetFileBytes(Path(name), bytes);
    }

    XmlParse Parse(const std::string& name, FIFolder* folder = nullptr)
    {
        XmlParse result;
        FXmlParser parser;
        try {
            result.m_root.reset(
                parser.ParseFile(folder != nullptr ? folder : m_pFolder, FWideString(name.c_str())));
        } catch (const FExceptionXMLParser& e) {
            result.m_exception = e.GetMessage();
        }
        result.m_errors = Narrow(parser.GetErrors());
        for (const FWideString& file : parser.GetFiles())
            result.m_files.push_back(Narrow(file));
        return result;
    }

    std::string m_path;
    FIFolder* m_pFolder = nullptr;
};
