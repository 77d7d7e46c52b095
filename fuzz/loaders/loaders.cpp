// One file in memory through the data retriever and its loaders: information,
// properties, a frame and camera data into the cache, and a header change for raw
// files. The file is offered under the extension its first bytes suggest, or under
// all three when they suggest none.

#include "FCache.h"
#include "FDataRetriever.h"
#include "FMemStorageClass.h"
#include "FPropList.h"
#include "ImagePropKeys.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace
{

FMemStorageClass& Storage()
{
    static FMemStorageClass* storage = RegisterMemStorageClass(FWideString("fuzzmem"));
    return *storage;
}

// A posted load in memory ends quickly; the cap only keeps a fault from hanging the run.
void RunToEnd(FIDataRetriever& retriever, FDataRetrieverRequest& req)
{
    retriever.Request(&req);
    for (int i = 0; i < 2000 && req.m_Async.IsInProgress(); ++i)
        retriever.Idle();
}

void Exercise(FIDataRetriever& retriever, const std::string& name, bool raw)
{
    const FWideString url(("fuzzmem://" + name).c_str());
    for (intptr_t subKind : {kInfoImageCount, kInfoImage, kInfoCamfile, kInfoCAMbCamfile}) {
        FDataRetrieverRequest info;
        info.m_usFileName = url;
        info.m_eKind = kRetrieveInfo;
        info.m_iSubKind = subKind;
        RunToEnd(retriever, info);
    }
    FPropList props(nullptr, "props");
    FDataRetrieverRequest properties;
    properties.m_usFileName = url;
    properties.m_eKind = kRetrieveInfo;
    properties.m_iSubKind = kInfoProperties;
    properties.SetList(&props);
    RunToEnd(retriever, properties);

    for (intptr_t subKind : {kDataImage, kDataCamfile, kDataCAMbCamfile}) {
        FDataRetrieverRequest data;
        data.m_usFileName = url;
        data.m_eKind = kRetrieveData;
        data.m_iSubKind = subKind;
        RunToEnd(retriever, data);
        if (FIDataObject* handle = data.GetDataObject())
            handle->Release();
    }
    if (!raw)
        return;
    FPropList changes(nullptr, "changes");
    changes.AddProp("ROTATION", "+90");
    changes.AddProp(propkey::kContrast, "0.5");
    changes.AddProp(propkey::kColorAdjust, "10C");
    FDataRetrieverRequest modify;
    modify.m_usFileName = url;
    modify.m_eKind = kRetrieveModify;
    modify.SetChanges(&changes);
    RunToEnd(retriever, modify);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const bool isRaw = size >= 4 && std::memcmp(data, "BRIb", 4) == 0;
    const bool isJPEG = size >= 2 && data[0] == 0xFF && data[1] == 0xD8;
    const bool isTiff = size >= 2 && (std::memcmp(data, "II", 2) == 0 || std::memcmp(data, "MM", 2) == 0);
    const bool any = !isRaw && !isJPEG && !isTiff;
    FIDataRetriever* retriever = CreateDataRetriever();
    struct Kind {
        bool m_bUse;
        const char* m_pszName;
        bool m_bRaw;
    };
    for (const Kind& kind : {Kind{isRaw || any, "f.bri", true}, Kind{isJPEG || any, "f.jpg", false},
                             Kind{isTiff || any, "f.tif", false}}) {
        if (!kind.m_bUse)
            continue;
        Storage().PutFile(FWideString(kind.m_pszName), bytes);
        Exercise(*retriever, kind.m_pszName, kind.m_bRaw);
    }
    ReleaseDataRetriever(retriever);
    // Every input starts from an empty cache, so no frame of an earlier one answers.
    GetGlobalCache()->SetSize(0);
    GetGlobalCache()->SetSize(FCache::kDefaultLimit);
    return 0;
}
