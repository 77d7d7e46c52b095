#include "FProbeObject.h"

#include <algorithm>
#include <cstdio>

#include "FCodePage.h"
#include "FUiObjectFactory.h"

namespace
{

std::vector<FProbeObject*>& Live()
{
    static std::vector<FProbeObject*> live;
    return live;
}

std::string Text(const FWideString& text)
{
    return Utf8FromWide(text);
}

} // namespace

FProbeObject::FProbeObject(const char* typeName) : FUiObject(typeName)
{
    Live().push_back(this);
}

FProbeObject::~FProbeObject()
{
    auto& live = Live();
    live.erase(std::remove(live.begin(), live.end(), this), live.end());
}

bool FProbeObject::UiRelayMessage(const FWideString& message, void* data)
{
    FProbeRecord record;
    record.message = Text(message);
    record.hadData = data != nullptr;
    record.pointer = data;
    auto kind = m_kinds.find(record.message);
    if (data && kind != m_kinds.end()) {
        char buffer[64];
        switch (kind->second) {
        case EProbeData::kNone:
            break;
        case EProbeData::kString:
            record.data = Text(*static_cast<FWideString*>(data));
            break;
        case EProbeData::kStrings2: {
            const FWideString* strings = static_cast<FWideString*>(data);
            record.data = Text(strings[0]) + "|" + Text(strings[1]);
            break;
        }
        case EProbeData::kInt:
            record.data = std::to_string(*static_cast<int*>(data));
            break;
        case EProbeData::kDouble:
            std::snprintf(buffer, sizeof buffer, "%g", *static_cast<double*>(data));
            record.data = buffer;
            break;
        case EProbeData::kBool:
            record.data = *static_cast<bool*>(data) ? "true" : "false";
            break;
        }
    }
    m_records.push_back(record);
    SharedLog().push_back(Text(m_usName) + ":" + record.message);
    if (m_onMessage)
        m_onMessage(record);
    return m_bAnswer;
}

std::string FProbeObject::GetMessages() const
{
    std::string joined;
    for (const FProbeRecord& record : m_records) {
        if (!joined.empty())
            joined += ",";
        joined += record.message;
    }
    return joined;
}

const std::vector<FProbeObject*>& FProbeObject::GetLive()
{
    return Live();
}

FProbeObject* FProbeObject::FindLive(const std::string& shortName)
{
    for (FProbeObject* probe : Live()) {
        FWideString name;
        probe->GetName(name);
        if (Text(name) == shortName)
            return probe;
    }
    return nullptr;
}

std::vector<std::string>& FProbeObject::SharedLog()
{
    static std::vector<std::string> log;
    return log;
}

bool RegisterProbe(FIUiObjectFactory* factory)
{
    auto* creator = new FUiObjectCreatorOf<FProbeObject>;
    if (factory && factory->Register("PROBE", creator))
        return true;
    delete creator;
    return false;
}
