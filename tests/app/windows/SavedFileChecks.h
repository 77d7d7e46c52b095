#pragma once

// Saved files looked at with the system's own tools (djpeg, tiffinfo, exiftool) and
// their embedded profile with LittleCMS.

#include <lcms2.h>

#include <cstdio>
#include <string>

namespace savedfile
{

inline std::string Shell(const std::string& command)
{
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, got);
        pclose(pipe);
    }
    return out;
}

// Empty when every tool is installed, else the names of those missing.
inline std::string MissingTools()
{
    std::string missing;
    for (const char* tool : {"djpeg", "tiffinfo", "exiftool"})
        if (Shell(std::string("command -v ") + tool + " >/dev/null && echo y") != "y\n")
            missing += std::string(missing.empty() ? "" : ", ") + tool;
    return missing;
}

// "cols rows" of a JPEG as djpeg decodes it; empty when it does not decode.
inline std::string JpegSize(const std::string& file)
{
    const std::string header = Shell("djpeg -pnm '" + file + "' 2>/dev/null | head -c 20");
    if (header.size() < 3 || header[0] != 'P')
        return std::string();
    const size_t first = header.find('\n');
    const size_t second = header.find('\n', first + 1);
    return first == std::string::npos || second == std::string::npos
               ? std::string()
               : header.substr(first + 1, second - first - 1);
}

// The red colorant's X of the embedded profile, read by LittleCMS; -1 without a profile.
inline double RedColorantX(const std::string& file)
{
    const std::string profile = Shell("exiftool -b -ICC_Profile '" + file + "'");
    if (profile.empty())
        return -1.0;
    cmsHPROFILE handle = cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(profile.size()));
    if (!handle)
        return -1.0;
    double x = -1.0;
    if (auto* red = static_cast<cmsCIEXYZ*>(cmsReadTag(handle, cmsSigRedColorantTag)))
        x = red->X;
    cmsCloseProfile(handle);
    return x;
}

// Red colorant X of the two spaces the journeys choose.
constexpr double kAdobeRedX = 0.6097;
constexpr double kSrgbRedX = 0.4361;

inline bool HasExif(const std::string& file)
{
    return Shell("exiftool -s -ISO '" + file + "'").find("ISO") != std::string::npos;
}

} // namespace savedfile
