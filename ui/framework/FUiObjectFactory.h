#pragma once

#include <memory>
#include <vector>

#include "FWideString.h"

class FIUiObject;

// Makes objects of one type family by script element name.
class FIUiObjectCreator
{
public:
    virtual FIUiObject* CreateUiObject(const char* typeName) = 0;
    virtual ~FIUiObjectCreator() = default;
};

class FIUiObjectFactory
{
public:
    // False (the creator stays the caller's) for a null name or creator or a
    // name already registered: the first registration of a name holds.
    virtual bool Register(const char* typeName, FIUiObjectCreator* creator) = 0;
    // Case-sensitive; null when no creator has the name.
    virtual FIUiObject* CreateUiObject(const char* typeName) = 0;
    virtual void GetCounts(int& registered, int& created) = 0;
    virtual void DumpCreators() = 0;
    virtual ~FIUiObjectFactory() = default;
};

class FUiObjectFactory : public FIUiObjectFactory
{
public:
    bool Register(const char* typeName, FIUiObjectCreator* creator) override;
    FIUiObject* CreateUiObject(const char* typeName) override;
    void GetCounts(int& registered, int& created) override;
    void DumpCreators() override;

private:
    struct Entry {
        FWideString name;
        std::unique_ptr<FIUiObjectCreator> creator;
    };
    std::vector<Entry> m_entries;
    int m_iCreated = 0;
};

FIUiObjectFactory* CreateUiObjectFactory();

// A creator for one class that is made with its type name.
template <class T>
class FUiObjectCreatorOf : public FIUiObjectCreator
{
public:
    FIUiObject* CreateUiObject(const char* typeName) override { return new T(typeName); }
};
