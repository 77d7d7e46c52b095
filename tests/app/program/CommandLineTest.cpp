#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RawbenchCommandLine.h"

TEST(CommandLineTest, OptionsAndPaths)
{
    using A = FRawbenchCommandLine::EAction;
    struct Case {
        std::vector<std::string> args;
        A action;
        std::string path;
        int ignored;
    };
    const Case cases[] = {
        {{}, A::kStart, "", 0},
        {{"/photos/day 1"}, A::kStart, "/photos/day 1", 0},
        // A file manager's %F: the first path is opened.
        {{"/a/x.q7f", "/a/y.q7f", "/b"}, A::kStart, "/a/x.q7f", 2},
        {{"--help"}, A::kHelp, "", 0},
        {{"-h", "/a"}, A::kHelp, "/a", 0},
        {{"--version"}, A::kVersion, "", 0},
        {{"-V"}, A::kVersion, "", 0},
        {{"--bogus"}, A::kBadUsage, "", 0},
        {{"-"}, A::kBadUsage, "", 0},
        {{"/a", "-x"}, A::kBadUsage, "/a", 0},
        // After "--" a name that starts with a dash is a path.
        {{"--", "-odd name", "--help"}, A::kStart, "-odd name", 1},
        {{"", "rel/dir"}, A::kStart, "rel/dir", 0},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const std::string& a : c.args)
            joined += "[" + a + "]";
        SCOPED_TRACE(joined);
        const FRawbenchCommandLine line = ParseRawbenchCommandLine(c.args);
        EXPECT_EQ(line.action, c.action);
        EXPECT_EQ(line.path, c.path);
        EXPECT_EQ(line.ignoredPaths, c.ignored);
        EXPECT_EQ(line.problem.empty(), c.action != A::kBadUsage);
    }
}

TEST(CommandLineTest, TheVersionIsTheApplications)
{
    EXPECT_EQ(RawbenchVersionText(), "Rawbench 2.3.0 (build 3152)\n");
    EXPECT_EQ(RawbenchUsageText().rfind("Usage: rawbench ", 0), 0u);
}
