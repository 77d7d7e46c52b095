#include "FPictureTurns.h"

#include "FDebugTrace.h"
#include "FException.h"
#include "FIStorageClass.h"
#include "FPropList.h"
#include "FWideString.h"
#include "FXmlParser.h"
#include "FXmlWriter.h"
#include "PictureOrientation.h"
#include "StorageClassRegistry.h"

#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace
{

const char* const kFileName = "PictureTurns.xml";

struct FTurn {
    std::u16string m_url;
    std::u16string m_identity;
    int m_iDegrees = 0;
};

struct FTurnStore {
    std::mutex m_lock;
    bool m_bLoaded = false;
    // The folder the entries were read from; another one (a new configuration) is read anew.
    FWideString m_usFolderURL;
    // Oldest first.
    std::deque<FTurn> m_turns;
};

FTurnStore& Store()
{
    static FTurnStore store;
    return store;
}

std::u16string Key(const FWideString& text)
{
    return std::u16string(text.GetBuffer(), size_t(text.GetLength()));
}

FIFolder* OpenStoreFolder(const FWideString& url, bool create)
{
    if (url.IsEmpty())
        return nullptr;
    FWideString name;
    try {
        FIFolder* folder = OpenFolderURL(url, name, create);
        // Naming the folder itself: a file of that name is not our folder.
        if (folder && !name.IsEmpty()) {
            folder->Release();
            return nullptr;
        }
        return folder;
    } catch (const FException&) {
        return nullptr;
    }
}

struct FFolderHolder {
    FIFolder* m_pFolder;
    ~FFolderHolder()
    {
        if (m_pFolder)
            m_pFolder->Release();
    }
};

void Read(FTurnStore& store, const FWideString& folderURL)
{
    store.m_turns.clear();
    store.m_usFolderURL = folderURL;
    store.m_bLoaded = true;
    FFolderHolder holder{OpenStoreFolder(folderURL, false)};
    bool isFolder = false;
    if (!holder.m_pFolder || !holder.m_pFolder->Exists(FWideString(kFileName), &isFolder) || isFolder)
        return;
    std::unique_ptr<FPropList> root;
    try {
        FXmlParser parser;
        root.reset(parser.ParseFile(holder.m_pFolder, FWideString(kFileName)));
    } catch (const FException& e) {
        DebugTrace("PictureTurns: %s does not read (%s); pictures start unturned.\n", kFileName,
                   e.GetMessage());
        return;
    }
    if (!root)
        return;
    for (const FPropList* item = root->GetFirstChild(); item; item = item->GetNext()) {
        FTurn turn;
        turn.m_url = Key(item->GetString(FWideString("URL"), FWideString()));
        turn.m_identity = Key(item->GetString(FWideString("ID"), FWideString()));
        turn.m_iDegrees = QuarterTurnOf(item->GetInt(FWideString("TURN"), 0));
        if (turn.m_url.empty() || turn.m_iDegrees == 0)
            continue;
        store.m_turns.push_back(std::move(turn));
    }
    while (store.m_turns.size() > size_t(kMaxPictureTurns))
        store.m_turns.pop_front();
}

// The entries as of the current configuration folder.
void Load(FTurnStore& store)
{
    const FWideString folderURL = GetSpecialPathURL(kSpecialPathAppData);
    if (!store.m_bLoaded || !(folderURL == store.m_usFolderURL))
        Read(store, folderURL);
}

bool Write(const FTurnStore& store, const std::deque<FTurn>& turns)
{
    FFolderHolder holder{OpenStoreFolder(store.m_usFolderURL, true)};
    if (!holder.m_pFolder) {
        DebugTrace("PictureTurns: no application-data folder (%s); the turn is not kept.\n",
                   store.m_usFolderURL.GetNarrow());
        return false;
    }
    FPropList root(nullptr, "PICTURE_TURNS");
    for (const FTurn& turn : turns) {
        auto* item = new FPropList(&root, "PICTURE");
        item->AddProp(FWideString("URL"), FWideString(turn.m_url.c_str()));
        item->AddProp(FWideString("ID"), FWideString(turn.m_identity.c_str()));
        item->SetInt(FWideString("TURN"), turn.m_iDegrees);
    }
    try {
        return WritePropListXml(&root, holder.m_pFolder, FWideString(kFileName));
    } catch (const FException& e) {
        DebugTrace("PictureTurns: writing %s failed (%s)\n", kFileName, e.GetMessage());
        return false;
    }
}

} // namespace

int GetPictureTurn(const FWideString& url, const FWideString& identity)
{
    FTurnStore& store = Store();
    std::lock_guard<std::mutex> lock(store.m_lock);
    Load(store);
    const std::u16string key = Key(url);
    for (const FTurn& turn : store.m_turns)
        if (turn.m_url == key)
            return turn.m_identity == Key(identity) ? turn.m_iDegrees : 0;
    return 0;
}

bool SetPictureTurn(const FWideString& url, const FWideString& identity, int degrees)
{
    FTurnStore& store = Store();
    std::lock_guard<std::mutex> lock(store.m_lock);
    Load(store);
    std::deque<FTurn> turns = store.m_turns;
    const std::u16string key = Key(url);
    for (auto it = turns.begin(); it != turns.end(); ++it) {
        if (it->m_url == key) {
            turns.erase(it);
            break;
        }
    }
    degrees = QuarterTurnOf(degrees);
    if (degrees != 0)
        turns.push_back({key, Key(identity), degrees});
    while (turns.size() > size_t(kMaxPictureTurns))
        turns.pop_front();
    if (!Write(store, turns))
        return false;
    store.m_turns = std::move(turns);
    return true;
}

void ForgetPictureTurns()
{
    FTurnStore& store = Store();
    std::lock_guard<std::mutex> lock(store.m_lock);
    store.m_turns.clear();
    store.m_bLoaded = false;
}
