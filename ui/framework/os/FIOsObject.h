#pragma once

// What every object with an operating-system half offers its owner: opaque handles by kind.
class FIOsObject
{
public:
    virtual void* GetOsInfo(int kind) = 0;
    virtual bool SetOsInfo(int kind, void* info) = 0;
    virtual ~FIOsObject() = default;
};

// The kind under which windows and pixmaps answer their OS handle.
inline constexpr int kOsInfoHandle = 1;
