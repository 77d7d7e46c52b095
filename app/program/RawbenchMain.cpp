// The Rawbench desktop program.
#include "FOsBackend.h"
#include "FOsProgramArgs.h"
#include "RawbenchStart.h"

int main(int argc, char** argv)
{
    SetOsBackend(EOsBackend::kDisplay);
    FWideString exePath, argument;
    GetOsProgramArgs(argc, argv, exePath, argument);
    return RunRawbench(exePath, argument);
}
