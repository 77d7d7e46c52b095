// Copying a card of large images from the simulated camera through the storage
// class, beside copying the same bytes with memcpy.

#include "../support/BesideCopy.h"

#include "CamDevice.h"
#include "FCodePage.h"
#include "FSCCamera.h"
#include "SimCamera.h"
#include "StorageClassRegistry.h"

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{

constexpr size_t kFileBytes = 10u << 20;

// One camera with `files` images that share their bytes, so the card costs memory once.
struct Card {
    explicit Card(int files, bool crc)
    {
        static const bool registered = [] {
            RegisterCameraStorageClass();
            return true;
        }();
        (void)registered;
        SimCamera::Options options;
        options.m_bCrc = crc;
        m_pSim = std::make_unique<SimCamera>(options);
        m_pSim->Install(kCamTransportUsb);
        auto bytes = std::make_shared<SimCamera::Bytes>(kFileBytes);
        for (size_t i = 0; i < kFileBytes; ++i)
            (*bytes)[i] = static_cast<uint8_t>(i * 13 + (i >> 12));
        m_pSource = bytes;
        for (int i = 0; i < files; ++i) {
            const std::string path = "/cf/images/IMG_" + std::to_string(1000 + i) + ".q7f";
            m_pSim->AddSharedFile(path, m_pSource);
            m_urls.push_back(WideFromUtf8("camera://" + m_pSim->DeviceName() + path));
        }
        m_destination.resize(kFileBytes);
    }
    ~Card() { CamLinkShutdown(); }

    void CopyWithMemcpy()
    {
        for (size_t i = 0; i < m_urls.size(); ++i)
            std::memcpy(m_destination.data(), m_pSource->data(), kFileBytes);
    }
    void CopyFromCamera()
    {
        for (const FWideString& url : m_urls) {
            FIFile* file = OpenFileURL(url, kFileRead);
            if (!file)
                throw std::runtime_error("camera file did not open");
            file->Read(m_destination.data(), static_cast<int>(kFileBytes));
            file->Release();
        }
    }

    std::unique_ptr<SimCamera> m_pSim;
    std::shared_ptr<const SimCamera::Bytes> m_pSource;
    std::vector<FWideString> m_urls;
    std::vector<uint8_t> m_destination;
};

void BM_CameraCopy200x10MB(benchmark::State& state)
{
    Card card(200, false);
    bench::RunBesideCopy(
        state, [&] { card.CopyWithMemcpy(); }, [&] { card.CopyFromCamera(); });
    state.SetBytesProcessed(state.iterations() * 200 * static_cast<int64_t>(kFileBytes));
}
BENCHMARK(BM_CameraCopy200x10MB)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// The same with CRC-16 checks on every transfer, on a smaller card.
void BM_CameraCopyCrc20x10MB(benchmark::State& state)
{
    Card card(20, true);
    bench::RunBesideCopy(
        state, [&] { card.CopyWithMemcpy(); }, [&] { card.CopyFromCamera(); });
    state.SetBytesProcessed(state.iterations() * 20 * static_cast<int64_t>(kFileBytes));
}
BENCHMARK(BM_CameraCopyCrc20x10MB)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// Listing a folder of n entries, beside copying its listing text once: the ratio stays about
// the same from 100,000 to 1,000,000 entries when listing grows linearly.
void BM_CameraListing(benchmark::State& state)
{
    Card card(0, false);
    const int lines = static_cast<int>(state.range(0));
    std::string text;
    for (int i = 0; i < lines; ++i)
        text += "/cf/images/IMG_" + std::to_string(i) + ".q7f\t1000\t0\tF\n";
    card.m_pSim->SetListingOverride(text);
    const FWideString url = WideFromUtf8("camera://" + card.m_pSim->DeviceName() + "/cf/images");
    std::string copied;
    bench::RunBesideCopy(
        state, [&] { copied = text; },
        [&] {
            FWideString name;
            FIFolder* folder = OpenFolderURL(url, name, false);
            if (!folder)
                throw std::runtime_error("camera folder did not open");
            std::vector<FWideString> names;
            folder->ListFiles(names);
            folder->Release();
            if (names.size() != static_cast<size_t>(lines))
                throw std::runtime_error("listing lost entries");
        });
}
BENCHMARK(BM_CameraListing)
    ->Arg(100000)
    ->Arg(1000000)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

} // namespace
