// The Rawbench desktop program.
#include <cstdio>
#include <string>
#include <vector>

#include "FOsBackend.h"
#include "FOsProgramArgs.h"
#include "RawbenchCommandLine.h"
#include "RawbenchStart.h"

int main(int argc, char** argv)
{
    const FRawbenchCommandLine line =
        ParseRawbenchCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (line.action) {
    case FRawbenchCommandLine::EAction::kHelp:
        std::fputs(RawbenchUsageText().c_str(), stdout);
        return 0;
    case FRawbenchCommandLine::EAction::kVersion:
        std::fputs(RawbenchVersionText().c_str(), stdout);
        return 0;
    case FRawbenchCommandLine::EAction::kBadUsage:
        std::fprintf(stderr, "rawbench: %s\n%s", line.problem.c_str(), RawbenchUsageText().c_str());
        return 2;
    case FRawbenchCommandLine::EAction::kStart:
        break;
    }
    if (line.ignoredPaths > 0)
        std::fprintf(stderr, "Rawbench opens one folder or image at a time: %d further path%s left aside.\n",
                     line.ignoredPaths, line.ignoredPaths == 1 ? " was" : "s were");
    SetOsBackend(EOsBackend::kDisplay);
    const FWideString argument = line.path.empty() ? FWideString() : AbsoluteOsProgramArgument(line.path);
    return RunRawbench(GetOsExecutablePath(argc > 0 ? argv[0] : nullptr), argument);
}
