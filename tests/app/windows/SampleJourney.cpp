#include "SampleJourney.h"

#include <memory>

#include "BrisalMain.h"
#include "FAppHarness.h"
#include "FCache.h"
#include "FGenericUiWindow.h"
#include "FIPManager.h"
#include "FImageFileListEntry.h"
#include "FSCDiskWin.h"
#include "FTempDiskFolder.h"
#include "FUiReviewWindow.h"
#include "FUiThumbnails.h"
#include "SampleSet.h"

namespace journey
{

const FTempDiskFolder* Samples(std::string& error)
{
    static std::unique_ptr<FTempDiskFolder> folder;
    static bool made = false;
    static std::string why;
    if (!folder) {
        // A program that ran before in this process emptied the cache and shut the storage
        // classes down at its exit.
        RegisterDiskStorageClass();
        GetGlobalCache()->SetSize(kRawbenchCacheLimit);
        folder = std::make_unique<FTempDiskFolder>();
        // Each program start takes a pool of its own.
        SetIPManagerPoolSize(kDefaultIPManagerPoolSize);
        samples::SampleReport report;
        made = samples::MakeSamples(folder->GetPath(), report, why);
        SetIPManagerPoolSize(0);
    }
    error = why;
    return made ? folder.get() : nullptr;
}

bool CopySample(const FTempDiskFolder& to, const std::string& sample, const std::string& name, double keep)
{
    std::string error;
    const FTempDiskFolder* from = Samples(error);
    std::string bytes;
    if (!from || !from->ReadFile(sample, bytes))
        return false;
    bytes.resize(static_cast<size_t>(static_cast<double>(bytes.size()) * keep));
    return to.WriteFile(name, bytes);
}

FUiThumbnails* ShowFolder(FAppHarness& app, const FWideString& url, int count)
{
    auto* thumbs = dynamic_cast<FUiThumbnails*>(app.Object("MainWin.Thumbs"));
    FWideString folder = url;
    if (!thumbs || !app.Send("MainWin.Folders", "SelectDir", &folder) ||
        !app.RunUntil([&] { return thumbs->GetCellCount() == count; }, 3000))
        return nullptr;
    return thumbs;
}

bool ReviewThroughBrowser(FAppHarness& app, const FWideString& url)
{
    FWideString selected = url;
    app.Send("MainWin.Thumbs", "DeselectAll");
    return app.Send("MainWin.WinMgr", "SelectImage", &selected) && app.Key("MainWin", EOsKey::kLetter, 'E');
}

std::string Reviewing(FAppHarness& app)
{
    auto* review = dynamic_cast<FUiReviewWindow*>(app.Object("ReviewWin.WinMgr"));
    const FImageFileListEntry* entry = review ? review->GetEntry() : nullptr;
    return entry ? entry->m_usFileName.GetNarrow() : "<none>";
}

} // namespace journey
