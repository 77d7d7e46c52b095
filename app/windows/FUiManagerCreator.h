#pragma once

// Registration of a window manager: one creator per script type name, given
// to the factory, which owns it once accepted.

#include "FUiObjectFactory.h"

template <typename Manager>
class FUiManagerCreator : public FIUiObjectCreator
{
public:
    FIUiObject* CreateUiObject(const char* typeName) override { return new Manager(typeName); }
};

template <typename Manager>
bool RegisterUiManager(FIUiObjectFactory* factory, const char* typeName)
{
    if (!factory)
        return false;
    auto* creator = new FUiManagerCreator<Manager>;
    if (factory->Register(typeName, creator))
        return true;
    delete creator;
    return false;
}
