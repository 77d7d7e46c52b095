#pragma once

#include <string>

#include "FWideString.h"

// The executable's path and the first argument of this process. The argument
// is made absolute against the working folder, since a running instance it is
// handed to has a working folder of its own.
void GetOsProgramArgs(int argc, char** argv, FWideString& exePath, FWideString& argument);

// The argument as the running instance must see it: relative paths joined to
// `workingFolder`; absolute paths and URLs unchanged.
FWideString AbsoluteProgramArgument(const std::string& argument, const std::string& workingFolder);
