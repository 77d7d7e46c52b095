#include "RawbenchCommandLine.h"

#include "BrisalMain.h"

FRawbenchCommandLine ParseRawbenchCommandLine(const std::vector<std::string>& args)
{
    FRawbenchCommandLine line;
    bool optionsEnded = false;
    int paths = 0;
    for (const std::string& arg : args) {
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        // "-" alone would mean standard input, which holds no folder.
        if (!optionsEnded && !arg.empty() && arg[0] == '-') {
            if (arg == "-h" || arg == "--help")
                line.action = FRawbenchCommandLine::EAction::kHelp;
            else if (arg == "-V" || arg == "--version")
                line.action = FRawbenchCommandLine::EAction::kVersion;
            else {
                line.action = FRawbenchCommandLine::EAction::kBadUsage;
                line.problem = "unknown option '" + arg + "'";
                return line;
            }
            continue;
        }
        if (arg.empty())
            continue;
        if (paths++ == 0)
            line.path = arg;
    }
    line.ignoredPaths = paths > 1 ? paths - 1 : 0;
    return line;
}

std::string RawbenchUsageText()
{
    return "Usage: rawbench [OPTION]... [FOLDER | IMAGE]...\n"
           "Browse, review, adjust and convert raw images.\n"
           "\n"
           "Opens FOLDER, or the folder of IMAGE with that image selected; without a\n"
           "path, the folder shown last. Given several paths, Rawbench opens the first.\n"
           "When Rawbench is already running, it takes the path over and comes to the\n"
           "front, and this start ends.\n"
           "\n"
           "  -h, --help     show this help and exit\n"
           "  -V, --version  show the version and exit\n"
           "  --             take every following argument as a path\n";
}

std::string RawbenchVersionText()
{
    return "Rawbench " + std::to_string(kRawbenchVersionMajor) + "." + std::to_string(kRawbenchVersionMinor) +
           "." + std::to_string(kRawbenchVersionThird) + " (build " + std::to_string(kRawbenchBuild) + ")\n";
}
