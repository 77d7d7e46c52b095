#include "FUiObjectFactory.h"

#include "FDebugTrace.h"
#include "FIUiObject.h"

bool FUiObjectFactory::Register(const char* typeName, FIUiObjectCreator* creator)
{
    if (!typeName || !creator)
        return false;
    const FWideString name(typeName);
    for (const Entry& entry : m_entries) {
        if (entry.name == name)
            return false;
    }
    m_entries.push_back(Entry{name, std::unique_ptr<FIUiObjectCreator>(creator)});
    return true;
}

FIUiObject* FUiObjectFactory::CreateUiObject(const char* typeName)
{
    if (!typeName)
        return nullptr;
    const FWideString name(typeName);
    for (const Entry& entry : m_entries) {
        if (entry.name == name) {
            FIUiObject* object = entry.creator->CreateUiObject(typeName);
            if (object)
                ++m_iCreated;
            return object;
        }
    }
    return nullptr;
}

void FUiObjectFactory::GetCounts(int& registered, int& created)
{
    registered = static_cast<int>(m_entries.size());
    created = m_iCreated;
}

void FUiObjectFactory::DumpCreators()
{
    for (const Entry& entry : m_entries) {
        DebugTrace("REGISTERED CREATOR: %s\n", entry.name.GetNarrow());
        FIUiObject* object = entry.creator->CreateUiObject(entry.name.GetNarrow());
        if (object) {
            object->DebugDump();
            delete object;
        } else {
            DebugTraceText("   ***FAILED to CreateUiObject()!\n");
        }
    }
}

FIUiObjectFactory* CreateUiObjectFactory()
{
    return new FUiObjectFactory;
}
