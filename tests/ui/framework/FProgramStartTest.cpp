#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "FBundleWriter.h"
#include "FCodePage.h"
#include "FDebugTrace.h"
#include "FGenericUiApp.h"
#include "FHeadlessDesktop.h"
#include "FOsProgramArgs.h"
#include "FProbeObject.h"
#include "FProgramStart.h"
#include "FPropList.h"
#include "FScopedTempFolder.h"

namespace
{

std::string Script(const char* name)
{
    return std::string("<UI_SCRIPT Name=\"") + name + "\"><WINDOW Name=\"W\"/></UI_SCRIPT>";
}

std::string Text(const FWideString& text)
{
    return Utf8FromWide(text);
}

std::vector<unsigned char> Bytes(const std::string& text)
{
    return std::vector<unsigned char>(text.begin(), text.end());
}

// A program folder tree: <root>/bin/prog is the executable.
class ProgramTree
{
public:
    ProgramTree() : m_env("XDG_CONFIG_HOME", m_temp.Join("config"))
    {
        mkdir(m_temp.Join("bin").c_str(), 0700);
        WriteExe("");
        GetHeadlessDesktop().Reset();
    }
    std::string Path(const std::string& name) const { return m_temp.Join(name); }
    void Write(const std::string& name, const std::string& bytes) const
    {
        const std::string path = m_temp.Join(name);
        for (size_t slash = path.find('/', m_temp.GetPath().size() + 1); slash != std::string::npos;
             slash = path.find('/', slash + 1))
            mkdir(path.substr(0, slash).c_str(), 0700);
        m_temp.WriteFile(name, bytes);
    }
    void WriteArchive(const std::string& name, const std::string& member, const std::string& script) const
    {
        FBundleWriter writer;
        writer.AddMember(member, Bytes(script));
        std::vector<unsigned char> file;
        writer.AppendTo(file);
        Write(name, std::string(file.begin(), file.end()));
    }
    void WriteExe(const std::string& appendedScript) const
    {
        std::vector<unsigned char> exe = Bytes("\x7f"
                                               "ELF pretend program");
        if (!appendedScript.empty()) {
            FBundleWriter writer;
            writer.AddMember("ui.xml", Bytes(appendedScript));
            writer.AppendTo(exe);
        }
        Write("bin/prog", std::string(exe.begin(), exe.end()));
    }

    // Runs the program; the name of the script root it found, or "" when none.
    std::string Run(FProgramHooks hooks = FProgramHooks())
    {
        std::string found;
        auto running = hooks.running;
        hooks.running = [&](FGenericUiApp* app) {
            found = Text(app->GetScriptRoot()->GetString("Name", FWideString()));
            if (running)
                running(app);
        };
        RunProgram(WideFromUtf8(Path("bin/prog")), FWideString(), hooks);
        return found;
    }

private:
    FScopedTempFolder m_temp;
    FScopedEnv m_env;
};

TEST(ProgramStartTest, ScriptSearchOrder)
{
    struct Case {
        const char* what;
        std::vector<const char*> present; // layers, best first
        const char* expected;
    };
    const Case cases[] = {
        {"beside beats everything",
         {"beside", "btb", "appended", "UiScripts", "UI_Scripts", "DefaultUI"},
         "beside"},
        {"archive beside", {"btb", "appended", "UiScripts"}, "btb"},
        {"archive without the script is skipped", {"btb-empty", "appended", "UiScripts"}, "appended"},
        {"a folder named ui.xml does not count", {"folder-ui.xml", "UiScripts"}, "UiScripts"},
        {"a file where a script folder should be is passed over",
         {"file-UiScripts", "UI_Scripts"},
         "UI_Scripts"},
        {"an archive that is not an archive is passed over", {"btb-garbage", "UiScripts"}, "UiScripts"},
        {"UiScripts", {"UiScripts", "UI_Scripts", "DefaultUI"}, "UiScripts"},
        {"UI_Scripts", {"UI_Scripts", "DefaultUI"}, "UI_Scripts"},
        {"DefaultUI", {"DefaultUI"}, "DefaultUI"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramTree tree;
        for (const std::string layer : c.present) {
            if (layer == "beside")
                tree.Write("bin/ui.xml", Script("beside"));
            else if (layer == "btb")
                tree.WriteArchive("bin/ui.btb", "ui.xml", Script("btb"));
            else if (layer == "btb-empty")
                tree.WriteArchive("bin/ui.btb", "other.xml", Script("wrong"));
            else if (layer == "appended")
                tree.WriteExe(Script("appended"));
            else if (layer == "file-UiScripts")
                tree.Write("UiScripts", Script("file"));
            else if (layer == "btb-garbage")
                tree.Write("bin/ui.btb", "not a bundle at all, just some bytes");
            else if (layer == "folder-ui.xml")
                mkdir(tree.Path("bin/ui.xml").c_str(), 0700);
            else
                tree.Write(layer + "/ui.xml", Script(layer.c_str()));
        }
        EXPECT_EQ(tree.Run(), c.expected);
        EXPECT_TRUE(GetHeadlessDesktop().messageBoxes.empty());
    }
}

TEST(ProgramStartTest, SearchTracesEachStep)
{
    ProgramTree tree;
    tree.Write("UI_Scripts/ui.xml", Script("x"));
    FDebugTraceCapture trace;
    tree.Run();
    const std::string text = trace.GetText();
    const char* const steps[] = {
        "WinMain: Looking for an XML script file in the same folder as this executable.\n",
        "WinMain:       Did NOT find an XML script file in the same folder as this executable.\n",
        "WinMain:       Did NOT find a bundled file in the same folder as this executable.\n",
        "WinMain:       Did NOT find a bundled file concatenated onto the end of this executable.\n",
        "WinMain:       Did NOT find an XML script file in ..\\UiScripts relative to this executable's "
        "folder.\n",
        "WinMain:       FOUND an XML script file in ..\\UI_Scripts relative to this executable's folder.\n",
        "WinMain: Normal exit.\n",
    };
    size_t at = 0;
    for (const char* step : steps) {
        const size_t found = text.find(step, at);
        EXPECT_NE(found, std::string::npos) << step;
        if (found != std::string::npos)
            at = found;
    }
}

TEST(ProgramStartTest, FailuresShowTheirBoxAndEndCleanly)
{
    struct Case {
        const char* what;
        const char* script; // null: no script at all
        bool startupFails;
        const char* title;
        const char* text;
    };
    const Case cases[] = {
        {"no script", nullptr, false, "ERROR",
         "Failed to find the application's UI script!\nProgram terminating."},
        {"start-up hook fails", "<UI_SCRIPT Name=\"A\"><WINDOW/></UI_SCRIPT>", true, "ERROR",
         "BrisalMain() Failed!\nProgram terminating."},
        {"no window", "<UI_SCRIPT Name=\"A\"/>", false, "ERROR", "Failed to init app!\nProgram terminating."},
        {"empty script", "", false, "ERROR", "Failed to init app!\nProgram terminating."},
        {"missing style", "<UI_SCRIPT Name=\"A\"><WINDOW Style=\"Nope\"/></UI_SCRIPT>", false, "FException",
         "User Interface Script Error (failed to find the referenced STYLE tag 'Nope')"},
        {"malformed script", "<UI_SCRIPT Name=\"A\"><WINDOW></UI_SCRIPT>", false, "FException",
         "XML Parser Error ("},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramTree tree;
        if (c.script)
            tree.Write("bin/ui.xml", c.script);
        int shutdowns = 0;
        bool ran = false;
        FProgramHooks hooks;
        hooks.startup = [&](FGenericUiApp*, const FWideString&, const FWideString&) {
            return !c.startupFails;
        };
        hooks.shutdown = [&] { ++shutdowns; };
        hooks.running = [&](FGenericUiApp*) { ran = true; };
        testing::internal::CaptureStdout();
        EXPECT_EQ(RunProgram(WideFromUtf8(tree.Path("bin/prog")), FWideString(), hooks), 0);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_FALSE(ran);
        EXPECT_EQ(shutdowns, 0); // the exit hook runs only after a normal run
        const auto& boxes = GetHeadlessDesktop().messageBoxes;
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].first, c.title);
        EXPECT_EQ(boxes[0].second.substr(0, std::string(c.text).size()), c.text);
        if (std::string(c.title) == "FException")
            EXPECT_EQ(out, boxes[0].second + "\n"); // printed before the box
        else
            EXPECT_EQ(out, "");
        EXPECT_EQ(GetPropListCount(), 0);
    }
}

TEST(ProgramStartTest, NormalRunCallsTheHooksAroundTheApplication)
{
    ProgramTree tree;
    tree.Write("bin/ui.xml", "<UI_SCRIPT Name=\"A\"><PROBE Name=\"P\"/><WINDOW Name=\"W\"/></UI_SCRIPT>");
    std::vector<std::string> steps;
    FProgramHooks hooks;
    hooks.startup = [&](FGenericUiApp* app, const FWideString& exe, const FWideString& argument) {
        steps.push_back("startup " + Text(argument) + " " +
                        (Text(exe).find("bin/prog") != std::string::npos ? "exe" : "?"));
        return RegisterProbe(app->GetUiObjectFactory());
    };
    hooks.running = [&](FGenericUiApp*) {
        steps.push_back(std::string("running ") +
                        (FProbeObject::FindLive("P") ? "with probe" : "without probe"));
    };
    hooks.shutdown = [&] {
        steps.push_back(std::string("shutdown ") + (FProbeObject::FindLive("P") ? "early" : "after"));
    };
    RunProgram(WideFromUtf8(tree.Path("bin/prog")), FWideString("/pictures"), hooks);
    EXPECT_EQ(steps,
              (std::vector<std::string>{"startup /pictures exe", "running with probe", "shutdown after"}));
    EXPECT_TRUE(GetHeadlessDesktop().messageBoxes.empty());
}

TEST(ProgramStartTest, CommandLineParsing)
{
    struct Case {
        const char16_t* line;
        const char* exe;
        const char* argument;
    };
    const Case cases[] = {
        {u"C:\\Apps\\prog.exe", "C:\\Apps\\prog.exe", ""},
        {u"\"C:\\My Apps\\prog.exe\"", "C:\\My Apps\\prog.exe", ""},
        {u"\"C:\\My Apps\\prog.exe\" ", "C:\\My Apps\\prog.exe", ""},
        {u"\"C:\\My Apps\\prog.exe", "C:\\My Apps\\prog.exe", ""},
        {u"\"C:\\Apps\\prog.exe\" \"D:\\My Pictures\\2004\"", "C:\\Apps\\prog.exe", "D:\\My Pictures\\2004"},
        {u"prog D:\\Pictures", "prog.exe", "D:\\Pictures"},
        {u"PROG.EXE x", "PROG.EXE", "x"},
        {u"abc", "abc.exe", ""},
        {u"exe", "exe.exe", ""},
        {u"", "", ""},
        {u"prog  D:\\Pictures x", "prog.exe", "D:\\Pictures"}, // a leading blank and a one-unit tail dropped
        {u"prog \"D:\\a\" b", "prog.exe", "D:\\a"},
    };
    for (const Case& c : cases) {
        FWideString exe, argument;
        GetExeNameAndArg1(c.line, exe, argument);
        EXPECT_EQ(Text(exe), c.exe) << Text(FWideString(c.line));
        EXPECT_EQ(Text(argument), c.argument) << Text(FWideString(c.line));
    }
}

TEST(ProgramStartTest, ArgumentsAreMadeAbsoluteForTheRunningInstance)
{
    struct Case {
        const char* argument;
        const char* expected;
    };
    const Case cases[] = {
        {"pictures/2004", "/home/u/pictures/2004"},
        {"./a b", "/home/u/a b"},
        {"/abs/path", "/abs/path"},
        {"file:///x", "file:///x"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Text(AbsoluteProgramArgument(c.argument, "/home/u")), c.expected) << c.argument;
}

} // namespace
