#include "FBundleFolder.h"
#include "FBundleWriter.h"
#include "XmlTestSupport.h"

#include <cstdlib>
#include <vector>

using XmlParserTest = XmlFolderTest;

TEST_F(XmlParserTest, EncodingsGiveEqualTrees)
{
    const std::u16string text = u"<!-- c -->\r\n<A x=\"1\" y=\"\u00e9\u65e5\">\r\n\t<B z=\"q\"/>\r\n</A>\r\n";
    Put("le.xml", Utf16Bytes(text));
    Put("be.xml", Utf16Bytes(text, true));
    const XmlParse le = Parse("le.xml");
    const XmlParse be = Parse("be.xml");
    ASSERT_TRUE(le.m_root) << le.m_errors << le.m_exception;
    EXPECT_EQ(Dump(le.m_root.get()), "A[x=1;y=\u00e9\u65e5;]{B[z=q;]}");
    EXPECT_EQ(Dump(be.m_root.get()), Dump(le.m_root.get()));

    // 8-bit files widen each byte as a signed value; an odd trailing byte of UTF-16 is ignored.
    Put("narrow.xml", "<A v=\"caf\xE9\"/>\r\n");
    const XmlParse narrow = Parse("narrow.xml");
    ASSERT_TRUE(narrow.m_root);
    EXPECT_TRUE(narrow.m_root->GetString(FWideString("v"), FWideString()) == u"caf\uFFE9");
    Put("odd.xml", Utf16Bytes(u"<A/>\r\n") + "x");
    EXPECT_EQ(Dump(Parse("odd.xml").m_root.get()), "A[]");
}

TEST_F(XmlParserTest, StructureCases)
{
    struct Case {
        const char* what;
        const char* text;
        const char* tree;
    };
    const Case cases[] = {
        {"last top-level element wins", "<A a=\"1\"/>\r\n<B b=\"2\"/>\r\n", "B[b=2;]"},
        {"later text replaces earlier", "<A>one<B/>two</A>\r\n", "A[](two){B[]}"},
        {"comment before the root", "<!-- a - b -->\r\n<A/>\r\n", "A[]"},
        {"comment inside", "<A>\r\n<!-- x -->\r\n<B/>\r\n</A>\r\n", "A[]{B[]}"},
        {"references are decoded", "<A v=\"&amp;x &lt;&gt;&quot;&apos; &#65;&#x42;&#X43;&#x1F600;\"/>\r\n",
         "A[v=&x <>\"' AB&#X43;\U0001F600;]"},
        {"bare ampersands stand", "<A v=\"& &bogus; &#; &#x; &#xZZ; &#1114112; &amp\"/>\r\n",
         "A[v=& &bogus; &#; &#x; &#xZZ; &#1114112; &amp;]"},
        {"writer's references are decoded", "<A v=\"&#34;q&#34; &#38;#34;\"/>\r\n", "A[v=\"q\" &#34;;]"},
        {"single quotes inside double quotes", "<A v=\"it's\"/>\r\n", "A[v=it's;]"},
        {"empty names and values", "<A =\"\" b=\"\"/>\r\n", "A[=;b=;]"},
        {"file ending at the last angle bracket", "<A><B/></A>", "A[]{B[]}"},
        {"self-closed file end", "<A/>", "A[]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Put("s.xml", c.text);
        const XmlParse parse = Parse("s.xml");
        EXPECT_EQ(parse.m_exception, "");
        EXPECT_EQ(Dump(parse.m_root.get()), c.tree) << parse.m_errors;
    }
}

TEST_F(XmlParserTest, EarlierRootsAreDeleted)
{
    const int before = GetPropListCount();
    Put("two.xml", "<A><C/></A>\r\n<B/>\r\n");
    {
        XmlParse parse = Parse("two.xml");
        ASSERT_TRUE(parse.m_root);
        EXPECT_EQ(GetPropListCount(), before + 1);
    }
    EXPECT_EQ(GetPropListCount(), before);
}

TEST_F(XmlParserTest, SyntaxErrorsThrowWithTheirStep)
{
    const std::string where = "while parsing File 'e.xml' Line '0' TagDepth '1'";
    const std::string prop = where + " TagName 'A' PropNumber '1'";
    struct Case {
        const char* text;
        std::string message;
        const char* log;
    };
    const Case cases[] = {
        {"   ", "1st priSkipWhiteSpace() failed in priParseTag() " + where,
         " [FXmlParser::priParseTag() 1st priSkipWhiteSpace() failed!]\n"},
        {"x<A/>\r\n", "priSkipTagStart() failed in priParseTag() " + where,
         " [FXmlParser::priParseTag() priSkipTagStart() failed!]\n"},
        {"\xEF\xBB\xBF<A/>\r\n", "priSkipTagStart() failed in priParseTag() " + where,
         " [FXmlParser::priParseTag() priSkipTagStart() failed!]\n"},
        {"< ", "2nd priSkipWhiteSpace() failed in priParseTag() " + where,
         " [FXmlParser::priParseTag() 2nd priSkipWhiteSpace() failed!]\n"},
        {"<AB", "priSkipName() failed in priParseTag() " + where,
         " [FXmlParser::priParseTag() priSkipName() failed!]\n"},
        {"<A>  ", "3rd priSkipWhiteSpace() failed in priParseTag() " + where,
         " [FXmlParser::priParseTag() 3rd priSkipWhiteSpace() failed!]\n"},
        {"<A>",
         "Failed because at EOF before return from priParseProps() " + where + " TagName 'A' PropNumber '0'",
         " [FXmlParser::priParseProps() at EOF before return!]\n"},
        {"<A b", "priSkipName() failed in priParseProps() " + prop,
         " [FXmlParser::priParseProps() call to priSkipName() failed!]\n"},
        {"<A b ", "2nd priSkipWhiteSpace() failed in priParseProps() " + prop,
         " [FXmlParser::priParseProps() 2nd priSkipWhiteSpace() failed!]\n"},
        {"<A b c=\"1\"/>", "priSkipEquals() failed in priParseProps() " + prop,
         " [FXmlParser::priParseProps() call to priSkipEquals() failed!]\n"},
        {"<A b= ", "3rd priSkipWhiteSpace() failed in priParseProps() " + prop,
         " [FXmlParser::priParseProps() 3rd priSkipWhiteSpace() failed!]\n"},
        {"<A b='c'/>\r\n", "priSkipQuotedString() failed in priParseProps() " + prop,
         " [FXmlParser::priParseProps() call to priSkipQuotedString() failed!]\n"},
        {"<A b=\"c", "priSkipQuotedString() failed in priParseProps() " + prop,
         " [FXmlParser::priParseProps() call to priSkipQuotedString() failed!]\n"},
        {"<A b=\"c\"", "4th priSkipWhiteSpace() failed in priParseProps() " + prop,
         " [FXmlParser::priParseProps() 4th priSkipWhiteSpace() failed!]\n"},
        {"<?xml version=\"1.0\"?>\r\n<A/>\r\n",
         "priSkipEquals() failed in priParseProps() while parsing File 'e.xml' Line '0' TagDepth '1' TagName "
         "'' "
         "PropNumber '1'",
         " [FXmlParser::priParseProps() call to priSkipEquals() failed!]\n"},
        {"<!-- a -- b -->\r\n<A/>\r\n",
         "priSkipEquals() failed in priParseProps() while parsing File 'e.xml' Line '0' TagDepth '1' TagName "
         "'' "
         "PropNumber '1'",
         " [FXmlParser::priParseProps() call to priSkipEquals() failed!]\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Put("e.xml", c.text);
        const XmlParse parse = Parse("e.xml");
        EXPECT_FALSE(parse.m_root);
        EXPECT_EQ(parse.m_exception, c.message);
        EXPECT_EQ(parse.m_errors, c.log);
    }
}

TEST_F(XmlParserTest, MessagesCountCarriageReturnsTagsAndProps)
{
    Put("crlf.xml", "<!-- c --><A>\r\n<!-- d -->\r\n\t<B x=\"1\" y='2'/>\r\n</A>\r\n");
    Put("lf.xml", "<!-- c --><A>\n<!-- d -->\n\t<B x=\"1\" y='2'/>\n</A>\n");
    const std::string tail = "' TagDepth '4' TagName 'B' PropNumber '2'";
    EXPECT_EQ(Parse("crlf.xml").m_exception,
              "priSkipQuotedString() failed in priParseProps() while parsing File 'crlf.xml' Line '2" + tail);
    EXPECT_EQ(Parse("lf.xml").m_exception,
              "priSkipQuotedString() failed in priParseProps() while parsing File 'lf.xml' Line '0" + tail);
}

TEST_F(XmlParserTest, UnclosedElementsReturnNull)
{
    struct Case {
        const char* text;
        const char* log;
    };
    const Case cases[] = {
        {"<A>text", " [FXmlParser::ParseFile(u.xml) call to priParseTag() failed!]\n"},
        {"<A><B>text", " [FXmlParser::priParseTag() call to priParseTag() failed!]\n"
                       " [FXmlParser::ParseFile(u.xml) call to priParseTag() failed!]\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Put("u.xml", c.text);
        const XmlParse parse = Parse("u.xml");
        EXPECT_FALSE(parse.m_root);
        EXPECT_EQ(parse.m_exception, "");
        EXPECT_EQ(parse.m_errors, c.log);
    }
}

TEST_F(XmlParserTest, EndTagsMustMatchExactly)
{
    // An end tag that does not close its element is read as a child element, which then fails.
    for (const char* text : {"<A>text</a>\r\n", "<A>text</A >\r\n"}) {
        SCOPED_TRACE(text);
        Put("m.xml", text);
        const XmlParse parse = Parse("m.xml");
        EXPECT_FALSE(parse.m_root);
        EXPECT_EQ(parse.m_exception,
                  "priSkipEquals() failed in priParseProps() while parsing File 'm.xml' Line '0' "
                  "TagDepth '2' TagName '' PropNumber '1'");
    }
}

TEST_F(XmlParserTest, DeepNestingFailsCleanly)
{
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += "<a>";
    Put("deep.xml", text);
    const XmlParse parse = Parse("deep.xml");
    EXPECT_FALSE(parse.m_root);
    EXPECT_NE(parse.m_exception.find("nest deeper"), std::string::npos);
}

TEST_F(XmlParserTest, MissingFolderFileAndEmptyFile)
{
    FXmlParser parser;
    EXPECT_EQ(parser.ParseFile(nullptr, FWideString("x.xml")), nullptr);
    EXPECT_EQ(Narrow(parser.GetErrors()), " [FXmlParser::ParseFile(x.xml) folder pointer is NULL!]\n");

    const XmlParse missing = Parse("x.xml");
    EXPECT_EQ(missing.m_errors,
              " [FXmlParser::priOpenScriptFile(x.xml) failed to find the file in (" +
                  Narrow(m_pFolder->GetURL()) +
                  ")]\n [FXmlParser::ParseFile(x.xml) call to priOpenScriptFile() failed!]\n");

    Put("empty.xml", "");
    EXPECT_EQ(Parse("empty.xml").m_errors, " [FXmlParser::ParseFile(empty.xml) file size is zero bytes!]\n");
    Put("comments.xml", "<!-- only -->\r\n");
    EXPECT_EQ(Parse("comments.xml").m_errors,
              " [FXmlParser::ParseFile(comments.xml) m_pPropList == NULL!]\n");
}

TEST_F(XmlParserTest, SearchFoldersAndFileReferences)
{
    XmlStorage().PutFile(FWideString((m_path + "_other/other.xml").c_str()), "<O/>\r\n");
    Put("icon.png", "png");
    Put("main.xml", "<A File_Icon=\"icon.png\" File_Gone=\"gone.png\" x=\"1\"/>\r\n");

    FXmlParser parser;
    parser.AddSearchFolder(FWideString(("xmltest://" + m_path + "_other").c_str()));
    std::unique_ptr<FPropList> other(parser.ParseFile(m_pFolder, FWideString("other.xml")));
    ASSERT_TRUE(other) << Narrow(parser.GetErrors());
    EXPECT_EQ(Narrow(parser.GetFolderURL()), "xmltest://" + m_path + "_other/");

    const XmlParse main = Parse("main.xml");
    ASSERT_TRUE(main.m_root);
    EXPECT_EQ(main.m_files, (std::vector<std::string>{Narrow(Url("main.xml")), Narrow(Url("icon.png"))}));
    EXPECT_NE(main.m_errors.find(" [FXmlParser::priOpenScriptFile(gone.png) failed to find the file in ("),
              std::string::npos);
    EXPECT_EQ(Dump(main.m_root.get()), "A[File_Icon=icon.png;File_Gone=gone.png;x=1;]");
}

TEST_F(XmlParserTest, BuildPathExpandsTheFirstVariable)
{
    setenv("RB_XML_TEST_VARIABLE", "/opt/rb", 1);
    unsetenv("RB_XML_TEST_UNSET");
    struct Case {
        const char* value;
        const char* expanded;
    };
    const Case cases[] = {
        {"%RB_XML_TEST_VARIABLE%/x", "/opt/rb/x"},
        {"%RB_XML_TEST_UNSET%/x", "/x"},
        {"a%RB_XML_TEST_VARIABLE%b%RB_XML_TEST_VARIABLE%", "a/opt/rbb%RB_XML_TEST_VARIABLE%"},
        {"50% off", "50% off"},
        {"plain", "plain"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        Put("b.xml", std::string("<A Build_Path=\"") + c.value + "\" Build_PathX=\"" + c.value + "\"/>\r\n");
        const XmlParse parse = Parse("b.xml");
        ASSERT_TRUE(parse.m_root);
        EXPECT_EQ(Narrow(parse.m_root->GetString(FWideString("Build_Path"), FWideString())), c.expanded);
        EXPECT_EQ(Narrow(parse.m_root->GetString(FWideString("Build_PathX"), FWideString())), c.expanded);
        EXPECT_EQ(parse.m_files.size(), 3u);
    }
    unsetenv("RB_XML_TEST_VARIABLE");
}

TEST_F(XmlParserTest, IncludesReplaceTheirNode)
{
    Put("main.xml", "<Root>\r\n<First/>\r\n<xi:include href=\"part.xml\"/>\r\n<Last t=\"1\">text</Last>\r\n"
                    "<Inner><xi:include href=\"empty.xml\"/><Kept/></Inner>\r\n</Root>\r\n");
    Put("part.xml", "<Ignored drop=\"1\">\r\n<P1 a=\"1\"/>\r\n<xi:include href=\"nested.xml\"/>\r\n"
                    "<P2><Sub/></P2>\r\n</Ignored>\r\n");
    Put("nested.xml", "<N><N1/></N>\r\n");
    Put("empty.xml", "<E/>\r\n");
    const XmlParse parse = Parse("main.xml");
    ASSERT_TRUE(parse.m_root) << parse.m_errors << parse.m_exception;
    EXPECT_EQ(Dump(parse.m_root.get()),
              "Root[]{First[]P1[a=1;]N1[]P2[]{Sub[]}Last[t=1;](text)Inner[]{Kept[]}}");
    EXPECT_EQ(parse.m_files, (std::vector<std::string>{Narrow(Url("main.xml")), Narrow(Url("part.xml")),
                                                       Narrow(Url("nested.xml")), Narrow(Url("empty.xml"))}));
}

TEST_F(XmlParserTest, BadIncludesFail)
{
    Put("children.xml", "<R>\r\n<xi:include href=\"p.xml\"><C/></xi:include>\r\n</R>\r\n");
    const XmlParse children = Parse("children.xml");
    EXPECT_EQ(children.m_exception, "Failed include tag should NOT have children in File 'children.xml'");
    EXPECT_EQ(children.m_errors, " [FXmlParser::priPerformAllIncludes() include tag has children!]\n");

    Put("nohref.xml", "<R>\r\n<xi:include file=\"p.xml\"/>\r\n</R>\r\n");
    const XmlParse nohref = Parse("nohref.xml");
    EXPECT_EQ(nohref.m_exception,
              "Failed include did NOT have required property of href in File 'nohref.xml'");

    Put("missing.xml", "<R>\r\n<xi:include href=\"none.xml\"/>\r\n</R>\r\n");
    const XmlParse missing = Parse("missing.xml");
    EXPECT_FALSE(missing.m_root);
    EXPECT_NE(missing.m_errors.find(
                  " [FXmlParser::priPerformAllIncludes() call to pXmlParser->ParseFile(none.xml) "
                  "failed!]\n [FXmlParser::priPerformAllIncludes() call to "
                  "priPerformAllIncludes() failed!]\n [FXmlParser::ParseFile(missing.xml) call to "
                  "priPerformAllIncludes() failed!]\n"),
              std::string::npos)
        << missing.m_errors;

    Put("root.xml", "<xi:include href=\"nested.xml\"/>\r\n");
    Put("nested.xml", "<N><N1/></N>\r\n");
    EXPECT_FALSE(Parse("root.xml").m_root);

    Put("broken.xml", "<R>\r\n<xi:include href=\"bad.xml\"/>\r\n</R>\r\n");
    Put("bad.xml", "<B x='1'/>\r\n");
    EXPECT_NE(Parse("broken.xml").m_exception.find("File 'bad.xml'"), std::string::npos);
}

TEST_F(XmlParserTest, IncludeLoopsFailCleanly)
{
    Put("self.xml", "<R>\r\n<xi:include href=\"self.xml\"/>\r\n</R>\r\n");
    Put("a.xml", "<R>\r\n<xi:include href=\"b.xml\"/>\r\n</R>\r\n");
    Put("b.xml", "<R>\r\n<X/><xi:include href=\"a.xml\"/>\r\n</R>\r\n");
    for (const char* name : {"self.xml", "a.xml", "b.xml"}) {
        SCOPED_TRACE(name);
        const XmlParse parse = Parse(name);
        EXPECT_FALSE(parse.m_root);
        EXPECT_EQ(parse.m_exception, "");
        EXPECT_NE(parse.m_errors.find("include loop"), std::string::npos) << parse.m_errors;
    }
    // The same file included twice side by side is not a loop.
    Put("twice.xml", "<R>\r\n<xi:include href=\"leaf.xml\"/>\r\n<xi:include href=\"leaf.xml\"/>\r\n</R>\r\n");
    Put("leaf.xml", "<L><Leaf/></L>\r\n");
    EXPECT_EQ(Dump(Parse("twice.xml").m_root.get()), "R[]{Leaf[]Leaf[]}");
}

TEST_F(XmlParserTest, ScriptAndIncludesReadFromAnArchive)
{
    FBundleWriter writer;
    const std::string main =
        "<Root File_Icon=\"icon.png\">\r\n<xi:include href=\"part.xml\"/>\r\n</Root>\r\n";
    const std::string part = "<P><Inside v=\"1\"/></P>\r\n";
    const std::string loop = "<R><xi:include href=\"loop.xml\"/></R>\r\n";
    ASSERT_TRUE(writer.AddMember("ui.xml", std::vector<unsigned char>(main.begin(), main.end())));
    ASSERT_TRUE(writer.AddMember("part.xml", std::vector<unsigned char>(part.begin(), part.end())));
    ASSERT_TRUE(writer.AddMember("loop.xml", std::vector<unsigned char>(loop.begin(), loop.end())));
    ASSERT_TRUE(writer.AddMember("icon.png", std::vector<unsigned char>(3, 'p')));
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(writer.AppendTo(bytes));
    Put("ui.btb", std::string(bytes.begin(), bytes.end()));

    FBundleFolder archive(Url("ui.btb"));
    const XmlParse parse = Parse("ui.xml", &archive);
    ASSERT_TRUE(parse.m_root) << parse.m_errors;
    EXPECT_EQ(Dump(parse.m_root.get()), "Root[File_Icon=icon.png;]{Inside[v=1;]}");
    EXPECT_EQ(parse.m_errors, "");
    // Members have no URL of their own: the archive's stands for each.
    EXPECT_EQ(parse.m_files, (std::vector<std::string>{Narrow(Url("ui.btb")), Narrow(Url("ui.btb"))}));
    EXPECT_FALSE(Parse("loop.xml", &archive).m_root);
}

TEST_F(XmlParserTest, ConditionalSectionsSurviveForTheDefinesPass)
{
    // A definition made in an included file applies to the sections after the include.
    Put("ui.xml",
        "<Script>\r\n<xi:include href=\"defs.xml\"/>\r\n<xi:ifdef Name=\"WIDE\"><Wide/></xi:ifdef>\r\n"
        "<xi:ifndef Name=\"WIDE\"><Narrow/></xi:ifndef>\r\n</Script>\r\n");
    Put("defs.xml", "<Defs>\r\n<xi:define Name=\"WIDE\"/>\r\n</Defs>\r\n");
    const XmlParse parse = Parse("ui.xml");
    ASSERT_TRUE(parse.m_root) << parse.m_errors;
    EXPECT_EQ(Dump(parse.m_root.get()),
              "Script[]{xi:define[Name=WIDE;]xi:ifdef[Name=WIDE;]{Wide[]}xi:ifndef[Name=WIDE;]{Narrow[]}}");
    FPropList::ProcessDefines(parse.m_root.get(), {});
    EXPECT_EQ(Dump(parse.m_root.get()), "Script[]{xi:define[Name=WIDE;]Wide[]}");
}
