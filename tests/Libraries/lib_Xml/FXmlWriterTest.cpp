#include "FXmlWriter.h"
#include "FSCDiskWin.h"
#include "FScopedTempFolder.h"
#include "XmlTestSupport.h"

#include <cstdlib>
#include <string>
#include <vector>

using XmlWriterTest = XmlFolderTest;

TEST_F(XmlWriterTest, WritesTheExactLines)
{
    FPropList root(nullptr, "R");
    root.AddProp("a", "1");
    auto* leaf = new FPropList(&root, "N");
    leaf->AddProp("k", "v");
    leaf->SetText(FWideString("not written"));
    auto* inner = new FPropList(&root, "M");
    new FPropList(inner, "E");
    WritePropListXml(&root, m_pFolder, FWideString("out.xml"));
    std::string bytes;
    ASSERT_TRUE(Get("out.xml", bytes));
    EXPECT_EQ(bytes, Utf16Bytes(u"<R a=\"1\" >\r\n"
                                u"\t<N k=\"v\" />\r\n"
                                u"\t<M>\r\n"
                                u"\t\t<E/>\r\n"
                                u"\t</M>\r\n"
                                u"</R>\r\n"));
}

TEST_F(XmlWriterTest, EveryTypedValueReadsBack)
{
    const std::u16string values[] = {
        u"",
        u"plain",
        u"say \"hi\"",
        u"\"",
        u"a & b",
        u"&amp; &lt; &gt; &quot;",
        u"&#34; and &#38; as typed",
        u"&#3",
        u"<tag> </tag> />",
        u"it's",
        u"caf\u00e9 \u65e5\u672c \U0001F600",
        u"tab\there",
        u"line\r\nbreak",
        u"50% %HOME%",
        u"bell\u0007 and escape\u001b",
        u"&#x41; &#65; &#1114112; &bogus; &",
    };
    FPropList root(nullptr, "Settings");
    int i = 0;
    for (const std::u16string& value : values) {
        const std::string name = "v" + std::to_string(i++);
        root.AddProp(FWideString(name.c_str()), FWideString(value.c_str()));
        auto* child = new FPropList(&root, "Item");
        child->AddProp(FWideString("value"), FWideString(value.c_str()));
    }
    WritePropListXml(&root, m_pFolder, FWideString("settings.xml"));
    const XmlParse parse = Parse("settings.xml");
    ASSERT_TRUE(parse.m_root) << parse.m_errors << parse.m_exception;
    EXPECT_EQ(Dump(parse.m_root.get()), Dump(&root));
    const FPropPair* pair = parse.m_root->GetFirstProp();
    for (const std::u16string& value : values) {
        ASSERT_NE(pair, nullptr);
        EXPECT_TRUE(pair->GetValue() == value.c_str()) << Narrow(FWideString(value.c_str()));
        pair = pair->GetNext();
    }
}

// "</>" would close an unnamed parent early and drop its children.
TEST_F(XmlWriterTest, UnnamedElementsReadBack)
{
    FPropList root(nullptr, "");
    new FPropList(&root, "");
    auto* named = new FPropList(&root, "");
    named->AddProp("", "v");
    auto* inner = new FPropList(&root, "");
    new FPropList(inner, "");
    new FPropList(&root, "A");
    ASSERT_TRUE(WritePropListXml(&root, m_pFolder, FWideString("out.xml")));
    const XmlParse parse = Parse("out.xml");
    ASSERT_TRUE(parse.m_root) << parse.m_errors << parse.m_exception;
    EXPECT_EQ(Dump(parse.m_root.get()), Dump(&root));
}

// A failure at any write or at the final flush leaves the old file byte for
// byte, no temporary file, and is reported.
TEST_F(XmlWriterTest, FailedWriteKeepsThePreviousFile)
{
    FPropList first(nullptr, "State");
    first.AddProp("n", "1");
    ASSERT_TRUE(WritePropListXml(&first, m_pFolder, FWideString("state.xml")));
    std::string before;
    ASSERT_TRUE(Get("state.xml", before));

    FPropList second(nullptr, "State");
    for (int i = 0; i < 5; ++i)
        new FPropList(&second, "Entry");
    XmlStorage().SetWriteFailure(-1);
    ASSERT_TRUE(WritePropListXml(&second, m_pFolder, FWideString("state.xml")));
    const int64_t writes = XmlStorage().GetWriteCount();
    ASSERT_GT(writes, 5);
    ASSERT_TRUE(WritePropListXml(&first, m_pFolder, FWideString("state.xml")));
    for (int64_t fail = 0; fail <= writes; ++fail) {
        SCOPED_TRACE(fail);
        const bool atFlush = fail == writes;
        XmlStorage().SetWriteFailure(atFlush ? -1 : fail);
        XmlStorage().SetFlushFault(atFlush);
        EXPECT_FALSE(WritePropListXml(&second, m_pFolder, FWideString("state.xml")));
        XmlStorage().SetWriteFailure(-1);
        XmlStorage().SetFlushFault(false);
        std::string after;
        ASSERT_TRUE(Get("state.xml", after));
        EXPECT_EQ(after, before);
        std::vector<FWideString> names;
        m_pFolder->ListFiles(names);
        EXPECT_EQ(names.size(), 1u);
    }
    EXPECT_TRUE(WritePropListXml(&second, m_pFolder, FWideString("state.xml")));
    EXPECT_EQ(Dump(Parse("state.xml").m_root.get()), Dump(&second));
}

TEST_F(XmlWriterTest, LeftoversOfAnInterruptedWriteAreHandled)
{
    // An older save interrupted after setting the old file aside left only the
    // copy: it is read, and kept while a new save fails.
    Put("state.xml.bak", Utf16Bytes(u"<Old/>\r\n"));
    Put("state.xml.tmp", "half a fi");
    EXPECT_EQ(Dump(Parse("state.xml").m_root.get()), "Old[]");
    FPropList root(nullptr, "New");
    XmlStorage().SetFlushFault(true);
    EXPECT_FALSE(WritePropListXml(&root, m_pFolder, FWideString("state.xml")));
    XmlStorage().SetFlushFault(false);
    EXPECT_EQ(Dump(Parse("state.xml").m_root.get()), "Old[]");

    EXPECT_TRUE(WritePropListXml(&root, m_pFolder, FWideString("state.xml")));
    EXPECT_EQ(Dump(Parse("state.xml").m_root.get()), "New[]");
    std::vector<FWideString> names;
    m_pFolder->ListFiles(names);
    EXPECT_EQ(names.size(), 1u);

    EXPECT_FALSE(WritePropListXml(nullptr, m_pFolder, FWideString("state.xml")));
    EXPECT_FALSE(WritePropListXml(&root, nullptr, FWideString("state.xml")));
    EXPECT_EQ(Dump(Parse("state.xml").m_root.get()), "New[]");
}

namespace
{

// The temporary folder through the disk storage class; the caller releases it.
FIFolder* OpenDiskFolder(const FScopedTempFolder& temp)
{
    FWideString path;
    if (FindStorageClass(FWideString("disk"), path) == nullptr)
        RegisterDiskStorageClass();
    FWideString url;
    FWideString fileName;
    return NativePathToURL(WideFromUtf8(temp.GetPath()), url) ? OpenFolderURL(url, fileName, false) : nullptr;
}

// What a shell command prints, both streams, through a file of the folder.
std::string CommandOutput(const FScopedTempFolder& temp, const std::string& command)
{
    const std::string out = temp.Join("command.out");
    std::string text;
    if (std::system((command + " >'" + out + "' 2>&1").c_str()) == -1 || !temp.ReadFile("command.out", text))
        return "<not run>";
    return text;
}

} // namespace

TEST(XmlWriterDisk, ReplacesAFileOnDisk)
{
    FScopedTempFolder temp;
    FIFolder* folder = OpenDiskFolder(temp);
    ASSERT_NE(folder, nullptr);
    FPropList first(nullptr, "State");
    first.AddProp("v", "first \"one\"");
    FPropList second(nullptr, "State");
    second.AddProp("v", "second & <last>");
    WritePropListXml(&first, folder, FWideString("state.xml"));
    WritePropListXml(&second, folder, FWideString("state.xml"));

    FXmlParser parser;
    std::unique_ptr<FPropList> root(parser.ParseFile(folder, FWideString("state.xml")));
    ASSERT_TRUE(root) << Narrow(parser.GetErrors());
    EXPECT_EQ(Dump(root.get()), Dump(&second));
    std::vector<FWideString> names;
    folder->ListFiles(names);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(names[0] == "state.xml");
    folder->Release();
}

// A standard XML reader accepts what the writer makes of names with markup
// characters in them, and sees the same values our reader does.
TEST(XmlWriterDisk, StandardReadersAcceptTheFile)
{
    FScopedTempFolder temp;
    ASSERT_EQ(CommandOutput(temp, "command -v xmllint >/dev/null && echo y"), "y\n")
        << "xmllint missing: run scripts/setup.sh";
    FIFolder* folder = OpenDiskFolder(temp);
    ASSERT_NE(folder, nullptr);

    const char* const names[] = {
        "R&D",
        "<b>old</b>",
        "a > b",
        "say \"hi\"",
        "it's",
        "&amp; as typed",
        "&#38;",
        "tab\tand\r\nbreak",
        "caf\u00e9 \u65e5\u672c",
    };
    FPropList root(nullptr, "SETTINGS");
    for (const char* name : names) {
        auto* entry = new FPropList(&root, "SETTING");
        entry->AddProp(FWideString("Name"), WideFromUtf8(name));
    }
    ASSERT_TRUE(WritePropListXml(&root, folder, FWideString("settings.xml")));
    folder->Release();

    const std::string file = temp.GetPath() + "/settings.xml";
    EXPECT_EQ(CommandOutput(temp, "xmllint --noout '" + file + "' && echo accepted"), "accepted\n");
    for (int i = 0; i < static_cast<int>(std::size(names)); ++i) {
        SCOPED_TRACE(names[i]);
        const std::string query = "string(/SETTINGS/SETTING[" + std::to_string(i + 1) + "]/@Name)";
        // xmllint ends what it prints with a line feed.
        EXPECT_EQ(CommandOutput(temp, "xmllint --xpath '" + query + "' '" + file + "'"),
                  std::string(names[i]) + "\n");
    }
}
