// Writes the sample folder: raw files made from the photographs of a Debian package, a few
// generated test scenes, and one JPEG and one TIFF; ".complete" is written last.
//
//     rb_make_samples <output folder>

#include <chrono>
#include <cstdio>
#include <string>

#include "FCache.h"
#include "FIPManager.h"
#include "SampleSet.h"

int main(int argc, char** argv)
{
    if (argc != 2 || argv[1][0] == 0 || std::string(argv[1]) == "--help") {
        std::fprintf(stderr, "usage: %s <output folder>\n", argc > 0 ? argv[0] : "rb_make_samples");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    GetGlobalCache()->SetSize(FCache::kDefaultLimit);
    SetIPManagerPoolSize(kDefaultIPManagerPoolSize);
    samples::SampleReport report;
    std::string error;
    const bool ok = samples::MakeSamples(argv[1], report, error);
    SetIPManagerPoolSize(0);
    if (!ok) {
        std::fprintf(stderr, "rb_make_samples: %s\n", error.c_str());
        return 1;
    }
    if (!report.skipped.empty())
        std::printf("Photographs skipped (install python3-skimage for them): %s\n", report.skipped.c_str());
    else
        for (const samples::PhotoSource& photo : samples::Photographs())
            std::printf("From a photograph: %s.q7f, %s\n", photo.stem, photo.title);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%zu samples written to %s in %.1f s\n", report.written.size(), argv[1], seconds);
    return 0;
}
