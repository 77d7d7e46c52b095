#pragma once

// What the command line asks of Rawbench: help, the version, or a start on at
// most one folder or image. A file manager's "Open with" may pass several paths;
// the first is opened, the rest are reported as left aside.

#include <string>
#include <vector>

struct FRawbenchCommandLine {
    enum class EAction { kStart, kHelp, kVersion, kBadUsage };
    EAction action = EAction::kStart;
    // The folder or image to open, as given; empty when none.
    std::string path;
    // Paths given after the first, which are not opened.
    int ignoredPaths = 0;
    // Why the usage was refused, for standard error.
    std::string problem;
};

FRawbenchCommandLine ParseRawbenchCommandLine(const std::vector<std::string>& args);

std::string RawbenchUsageText();
std::string RawbenchVersionText();
