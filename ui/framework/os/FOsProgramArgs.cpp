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

void GetOsProgramArgs(int argc, char** argv, FWideString& exePath, FWideString& argument)
{
    std::vector<char> buffer(PATH_MAX + 1, 0);
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n > 0)
        exePath = WideFromUtf8(std::string(buffer.data(), static_cast<size_t>(n)));
    else
        exePath = argc > 0 && argv[0] ? WideFromUtf8(argv[0]) : FWideString();
    argument.Clear();
    if (argc < 2 || !argv[1])
        return;
    std::string cwd;
    if (getcwd(buffer.data(), buffer.size()))
        cwd = buffer.data();
    argument = AbsoluteProgramArgument(argv[1], cwd);
}
