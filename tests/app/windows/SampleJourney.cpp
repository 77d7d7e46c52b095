#include "SampleJourney.h"

#include <memory>
#include <vector>

#include "BrisalMain.h"
#include "FAppHarness.h"
#include "FCache.h"
#include "FGenericUiWindow.h"
#include "FHeadlessDesktop.h"
#include "FHeadlessUiWindow.h"
#include "FIPManager.h"
#include "FImageFileListEntry.h"
#include "FProbeObject.h"
#include "FSCDiskWin.h"
#include "FTempDiskFolder.h"
#include "FUiMainWindow.h"
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
    // Only this image selected: the browser reviews the first selected one.
    auto* browser = dynamic_cast<FUiMainWindow*>(app.Object("MainWin.WinMgr"));
    if (!browser)
        return false;
    std::vector<FWideString> selected;
    browser->GetList().ForEach(&selected, [](void* context, FImageFileListEntry* entry) {
        if (entry->m_bSelected)
            static_cast<std::vector<FWideString>*>(context)->push_back(entry->m_usURL);
        return 1;
    });
    app.Send("MainWin.WinMgr", "DeselectImageList", &selected);
    FWideString wanted = url;
    return app.Send("MainWin.WinMgr", "SelectImage", &wanted) && app.Key("MainWin", EOsKey::kLetter, 'E');
}

std::string Reviewing(FAppHarness& app)
{
    auto* review = dynamic_cast<FUiReviewWindow*>(app.Object("ReviewWin.WinMgr"));
    const FImageFileListEntry* entry = review ? review->GetEntry() : nullptr;
    return entry ? entry->m_usFileName.GetNarrow() : "<none>";
}

namespace
{

int PicturesShown(FAppHarness& app)
{
    int count = 0;
    for (const std::string& line : app.Log())
        count += line == "ON_DISPLAY_HISTOGRAM";
    return count;
}

// The count seen at the last wait, per program run (the probe's log starts empty).
int g_seen = 0;

} // namespace

bool ReviewAndWait(FAppHarness& app, const FWideString& url)
{
    if (!app.Watch("ReviewWin.WinMgr", "ON_DISPLAY_HISTOGRAM"))
        return false;
    g_seen = 0;
    return ReviewThroughBrowser(app, url) && WaitForNewPicture(app);
}

bool WaitForNewPicture(FAppHarness& app)
{
    auto* review = dynamic_cast<FUiReviewWindow*>(app.Object("ReviewWin.WinMgr"));
    const int before = g_seen;
    const bool done =
        review && app.RunUntil([&] { return PicturesShown(app) > before && review->IsIdle(); }, 3000);
    g_seen = PicturesShown(app);
    return done;
}

bool Drag(FAppHarness& app, const std::string& window, int x, int y, int dx, int dy, int steps,
          const std::function<void()>& during)
{
    FGenericUiWindow* target = app.Window(window);
    auto* os = target ? dynamic_cast<FHeadlessUiWindow*>(target->GetOsWindow()) : nullptr;
    if (!os || steps < 1)
        return false;
    os->InjectMouseDown(x, y);
    HeadlessPumpUntilIdle();
    for (int i = 1; i <= steps; ++i) {
        os->InjectMouseMove(x + dx * i / steps, y + dy * i / steps);
        HeadlessPumpUntilIdle();
        if (during)
            during();
    }
    os->InjectMouseUp(x + dx, y + dy);
    HeadlessPumpUntilIdle();
    return true;
}

} // namespace journey
