#pragma once

#include <string>

#include "FWideString.h"

// The executable's path and the first argument of this process. The argument
// is made absolute against the working folder, since a running instance it is
// handed to has a working folder of its own.
void GetOsProgramArgs(int argc, char** argv, FWideString& exePath, FWideString& argument);

// The executable's own path; `argv0` when the system cannot tell it.
FWideString GetOsExecutablePath(const char* argv0);

// An argument made absolute against this process's working folder.
FWideString AbsoluteOsProgramArgument(const std::string& argument);

// The argument as the running instance must see it: relative paths joined to
// `workingFolder`; absolute paths and URLs unchanged.
FWideString AbsoluteProgramArgument(const std::string& argument, const std::string& workingFolder);
