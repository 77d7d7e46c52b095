#pragma once

#include "FCodePage.h"
#include "FIStorageClass.h"
#include "FReleased.h"
#include "FWideString.h"

#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

// Narrow text of a wide string for assertions: UTF-8, lossless.
inline std::string U8(const FWideString& text)
{
    return Utf8FromWide(text);
}

inline FWideString W(const std::string& utf8)
{
    return WideFromUtf8(utf8);
}

inline std::vector<std::string> U8(const std::vector<FWideString>& texts)
{
    std::vector<std::string> out;
    for (const FWideString& text : texts)
        out.push_back(U8(text));
    return out;
}

// Registers the disk class once per test process.
void EnsureDiskRegistered();
// A scheme name no other test of this process uses.
FWideString UniqueSchemeName(const char* base);

inline bool RunningAsRoot()
{
    return geteuid() == 0;
}

#define SKIP_IF_ROOT()                                                                                       \
    do {                                                                                                     \
        if (RunningAsRoot())                                                                                 \
            GTEST_SKIP() << "runs as root, which ignores file permissions";                                  \
    } while (0)
