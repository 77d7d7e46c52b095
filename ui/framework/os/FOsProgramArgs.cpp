#include "FOsProgramArgs.h"

#include <limits.h>
#include <unistd.h>

#include <vector>

#include "FCodePage.h"

FWideString AbsoluteProgramArgument(const std::string& argument, const std::string& workingFolder)
{
    if (argument.empty() || argument[0] == '/' || argument.find("://") != std::string::npos ||
        workingFolder.empty())
        return WideFromUtf8(argument);
    std::string joined = workingFolder;
    if (joined.back() != '/')
        joined += '/';
    joined += argument.compare(0, 2, "./") == 0 ? argument.substr(2) : argument;
    return WideFromUtf8(joined);
}

FWideString GetOsExecutablePath(const char* argv0)
{
    std::vector<char> buffer(PATH_MAX + 1, 0);
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n > 0)
        return WideFromUtf8(std::string(buffer.data(), static_cast<size_t>(n)));
    return argv0 ? WideFromUtf8(argv0) : FWideString();
}

FWideString AbsoluteOsProgramArgument(const std::string& argument)
{
    std::vector<char> buffer(PATH_MAX + 1, 0);
    std::string cwd;
    if (getcwd(buffer.data(), buffer.size()))
        cwd = buffer.data();
    return AbsoluteProgramArgument(argument, cwd);
}

void GetOsProgramArgs(int argc, char** argv, FWideString& exePath, FWideString& argument)
{
    exePath = GetOsExecutablePath(argc > 0 ? argv[0] : nullptr);
    argument.Clear();
    if (argc < 2 || !argv[1])
        return;
    argument = AbsoluteOsProgramArgument(argv[1]);
}
