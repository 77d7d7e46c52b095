#include "FProgramStart.h"

#include <cstdio>
#include <string>
#include <vector>

#include "FBundleFolder.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FGenericUiApp.h"
#include "FIOsUiApp.h"
#include "FIStorageClass.h"
#include "FPropList.h"
#include "FSCDiskWin.h"
#include "StorageClassRegistry.h"

namespace
{

const FWideString kScriptName("ui.xml");

using FParts = std::vector<FWideString>;

bool FileExistsInFolder(const FParts& folder, const FWideString& name)
{
    FParts parts = folder;
    parts.push_back(name);
    FWideString url;
    if (!JoinURL(parts, url, false))
        return false;
    bool isFolder = false;
    try {
        return ExistsURL(url, isFolder) && !isFolder;
    } catch (const FException&) {
        return false;
    }
}

bool OpenScriptFolder(const FParts& folder, FIFolder*& out)
{
    out = nullptr;
    FWideString url, fileName;
    if (!JoinURL(folder, url, true))
        return false;
    try {
        out = OpenFolderURL(url, fileName, false);
    } catch (const FException&) {
        out = nullptr;
    }
    return out != nullptr;
}

bool OpenBundlesFolder(const FParts& folder, const FWideString& archive, FIFolder*& out)
{
    out = nullptr;
    FParts parts = folder;
    parts.push_back(archive);
    FWideString url;
    if (!JoinURL(parts, url, true))
        return false;
    if (url.GetLength() > 0 && url.GetBuffer()[url.GetLength() - 1] == u'/')
        url.DropRight(1);
    try {
        out = new FBundleFolder(url);
    } catch (const FException&) {
        if (out)
            out->Release();
        out = nullptr;
    }
    return out != nullptr;
}

bool FolderHasFile(FIFolder* folder, const FWideString& name)
{
    bool isFolder = false;
    return folder && folder->Exists(name, &isFolder) && !isFolder;
}

// An archive counts only when it holds the script.
bool OpenArchiveWithScript(const FParts& folder, const FWideString& archive, FIFolder*& out, bool traceOpened)
{
    if (!OpenBundlesFolder(folder, archive, out))
        return false;
    if (traceOpened)
        DebugTraceText("WinMain:       OpenBundlesFolder() returned true\n");
    if (FolderHasFile(out, kScriptName))
        return true;
    out->Release();
    out = nullptr;
    return false;
}

FIFolder* FindScriptFolder(const FParts& exeFolder, const FWideString& exeFile)
{
    FIFolder* folder = nullptr;
    DebugTraceText("WinMain: Looking for an XML script file in the same folder as this executable.\n");
    if (FileExistsInFolder(exeFolder, kScriptName) && OpenScriptFolder(exeFolder, folder)) {
        DebugTraceText("WinMain:       FOUND an XML script file in the same folder as this executable!\n");
        return folder;
    }
    DebugTraceText("WinMain:       Did NOT find an XML script file in the same folder as this executable.\n");

    DebugTraceText("WinMain: Looking for a bundled file in the same folder as this executable.\n");
    if (FileExistsInFolder(exeFolder, FWideString("ui.btb")) &&
        OpenArchiveWithScript(exeFolder, FWideString("ui.btb"), folder, false)) {
        DebugTraceText("WinMain:       FOUND a bundled file in the same folder as this executable!\n");
        return folder;
    }
    DebugTraceText("WinMain:       Did NOT find a bundled file in the same folder as this executable.\n");

    DebugTraceText("WinMain: Looking for a bundled file concatenated onto the end of this executable.\n");
    if (!exeFile.IsEmpty() && OpenArchiveWithScript(exeFolder, exeFile, folder, true)) {
        DebugTraceText("WinMain:       FOUND a bundled file concatenated onto the end of this executable!\n");
        return folder;
    }
    DebugTraceText(
        "WinMain:       Did NOT find a bundled file concatenated onto the end of this executable.\n");

    for (const char* name : {"UiScripts", "UI_Scripts", "DefaultUI"}) {
        DebugTrace(
            "WinMain: Looking for an XML script file in ..\\%s relative to this executable's folder.\n",
            name);
        FParts sibling = exeFolder;
        if (sibling.size() > 1)
            sibling.pop_back();
        sibling.push_back(FWideString(name));
        if (FileExistsInFolder(sibling, kScriptName) && OpenScriptFolder(sibling, folder)) {
            DebugTrace(
                "WinMain:       FOUND an XML script file in ..\\%s relative to this executable's folder.\n",
                name);
            return folder;
        }
        DebugTrace("WinMain:       Did NOT find an XML script file in ..\\%s relative to this executable's "
                   "folder.\n",
                   name);
    }
    return nullptr;
}

void ShowError(const char* text)
{
    ShowOsMessageBox(FWideString("ERROR"), FWideString(text));
}

} // namespace

void GetExeNameAndArg1(const char16_t* commandLine, FWideString& exeName, FWideString& argument)
{
    exeName.Clear();
    argument.Clear();
    const char16_t* text = commandLine ? commandLine : u"";
    const int length = FWideString::StrLen(text);
    bool hasArgument = false;
    if (length > 0 && text[0] == u'"') {
        int close = 1;
        while (close < length && text[close] != u'"')
            ++close;
        exeName = FWideString(text + 1, text + close - 1);
        if (close < length && close + 1 < length) {
            int start = close + 1;
            if (text[start] == u' ')
                ++start;
            argument = FWideString(text + start, text + length - 1);
            hasArgument = true;
        }
    } else {
        int space = 0;
        while (space < length && text[space] != u' ')
            ++space;
        exeName = FWideString(text, text + space - 1);
        if (space < length) {
            argument = FWideString(text + space + 1, text + length - 1);
            hasArgument = true;
        }
    }
    const int n = exeName.GetLength();
    if (n > 0 && (n < 4 || CompareNoCase(exeName.GetBuffer() + n - 4, ".exe") != 0))
        exeName += ".exe";
    if (!hasArgument)
        argument.Clear();
    DebugTrace("usArg1: %s\n", argument.GetNarrow());
    if (argument.IsEmpty())
        return;
    if (argument.GetBuffer()[0] == u'"') {
        FWideString rest(argument.GetBuffer() + 1);
        FWideString before, after;
        if (rest.Split(u"\"", before, after))
            rest = before;
        argument = rest;
        DebugTrace("GetExeNameAndArg1: Modified usArg1: %s\n", argument.GetNarrow());
    }
    if (!argument.IsEmpty() && argument.GetBuffer()[0] == u' ') {
        FWideString rest(argument.GetBuffer() + 1);
        FWideString before, after;
        if (rest.Split(u" ", before, after) && after.GetLength() == 1)
            rest = before;
        argument = rest;
        DebugTrace("GetExeNameAndArg1: Modified usArg1: %s\n", argument.GetNarrow());
    }
}

int RunProgram(const FWideString& exeNativePath, const FWideString& argument, const FProgramHooks& hooks)
{
    DebugTrace("WinMain: Exe Name: %s\n", exeNativePath.GetNarrow());
    DebugTrace("WinMain: usArg1: %s\n", argument.GetNarrow());
    SetOsProgramArgument(argument);
    // Without a display no box can be shown either: say so where a terminal sees it.
    if (std::string error; !OpenOsDisplay(error)) {
        std::fprintf(stderr, "Cannot open the display: %s\n", error.c_str());
        return 1;
    }
    {
        FWideString path;
        if (!FindStorageClass(FWideString("disk"), path))
            RegisterDiskStorageClass();
    }

    FParts exeFolder;
    FWideString exeFile, exeURL;
    if (NativePathToURL(exeNativePath, exeURL) && SplitURL(exeURL, exeFolder) && !exeFolder.empty()) {
        exeFile = exeFolder.back();
        exeFolder.pop_back();
    }
    FIFolder* scriptFolder = exeFolder.empty() ? nullptr : FindScriptFolder(exeFolder, exeFile);
    if (!scriptFolder) {
        ShowError("Failed to find the application's UI script!\nProgram terminating.");
        ShutdownStorageClasses();
        return 0;
    }
    FGenericUiApp* app = CreateGenericUiApp();
    if (!app) {
        scriptFolder->Release();
        ShowError("Failed to create the App object!\nProgram terminating.");
        ShutdownStorageClasses();
        return 0;
    }
    FWideString exeFolderURL;
    if (JoinURL(exeFolder, exeFolderURL, true))
        app->SetExecutableFolderURL(exeFolderURL);

    bool anotherInstance = false;
    try {
        if (hooks.startup && !hooks.startup(app, exeNativePath, argument)) {
            ShowError("BrisalMain() Failed!\nProgram terminating.");
            scriptFolder->Release();
            DeleteGenericUiApp(app);
            ShutdownStorageClasses();
            return 0;
        }
        FIFolder* handed = scriptFolder;
        scriptFolder = nullptr; // the application owns it from here, whatever it answers
        if (!app->InitFromScript(handed, kScriptName, anotherInstance)) {
            ShowError("Failed to init app!\nProgram terminating.");
            DeleteGenericUiApp(app);
            ShutdownStorageClasses();
            return 0;
        }
    } catch (const FException& e) {
        FWideString text;
        text.Format("%s (%s)", e.GetDescription(), e.GetMessage());
        std::printf("%s\n", text.GetNarrow());
        std::fflush(stdout);
        ShowOsMessageBox(FWideString("FException"), text);
        if (scriptFolder)
            scriptFolder->Release();
        DeleteGenericUiApp(app);
        ShutdownStorageClasses();
        return 0;
    }
    if (hooks.running)
        hooks.running(app);
    app->Run(anotherInstance);
    DeleteGenericUiApp(app);
    if (hooks.shutdown)
        hooks.shutdown();
    ShutdownStorageClasses();
    if (const int leaked = GetPropListCount(); leaked != 0)
        DebugTrace("*****LEAKED %d FPropLists!!!\n", leaked);
    DebugTraceText("WinMain: Normal exit.\n");
    return 0;
}
