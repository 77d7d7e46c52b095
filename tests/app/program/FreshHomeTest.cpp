#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "FAppHarness.h"
#include "FScopedTempFolder.h"

namespace
{

// Every folder below `root` (relative paths) that holds no file anywhere beneath it.
void FindEmptyFolders(const std::string& root, const std::string& relative, std::vector<std::string>& empty,
                      bool& holdsFile)
{
    holdsFile = false;
    DIR* dir = opendir((root + "/" + relative).c_str());
    if (!dir)
        return;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string child = relative.empty() ? name : relative + "/" + name;
        struct stat info {
        };
        if (lstat((root + "/" + child).c_str(), &info) != 0)
            continue;
        if (!S_ISDIR(info.st_mode)) {
            holdsFile = true;
            continue;
        }
        bool below = false;
        FindEmptyFolders(root, child, empty, below);
        if (!below)
            empty.push_back(child);
        holdsFile = holdsFile || below;
    }
    closedir(dir);
}

} // namespace

// A first start in a fresh home makes no folder of the user's: neither the
// documents folder nor anything the program leaves empty. Only what it
// writes (its state at exit) makes a folder.
TEST(FreshHomeTest, AStartCreatesOnlyFoldersItWritesInto)
{
    FAppHarness harness;
    FScopedTempFolder home;
    mkdir(home.Join(".config").c_str(), 0700);
    ASSERT_TRUE(home.WriteFile(".config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/My Documents\"\n"
                                                         "XDG_DESKTOP_DIR=\"$HOME/My Desktop\"\n"));
    mkdir(home.Join("runtime").c_str(), 0700);
    FScopedEnv homeEnv("HOME", home.GetPath());
    // The harness's own folders are left behind: this start sees a home with nothing in it.
    FScopedEnv config("XDG_CONFIG_HOME", home.Join(".config"));
    FScopedEnv data("XDG_DATA_HOME", home.Join(".local/share"));
    FScopedEnv cache("XDG_CACHE_HOME", home.Join(".cache"));
    FScopedEnv runtime("XDG_RUNTIME_DIR", home.Join("runtime"));

    const int status = harness.Start([](FAppHarness& app) { app.RunUntil([] { return false; }, 50); });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(harness.BodyRan());

    std::vector<std::string> empty;
    bool holdsFile = false;
    FindEmptyFolders(home.GetPath(), "", empty, holdsFile);
    std::erase(empty, std::string("runtime")); // there before the start
    EXPECT_EQ(empty, std::vector<std::string>{});
    struct stat info {
    };
    EXPECT_NE(stat(home.Join("My Documents").c_str(), &info), 0);
    EXPECT_NE(stat(home.Join("My Desktop").c_str(), &info), 0);
    EXPECT_EQ(stat(home.Join(".config/Rawbench/Rawbench.state.xml").c_str(), &info), 0)
        << "the state is written at exit, into a folder made for it";
}
