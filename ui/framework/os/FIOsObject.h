#pragma once

// Common base of everything that may hold an operating-system object: callers
// ask for a kind of native information by number and get an opaque pointer.
class FIOsObject
{
public:
    virtual ~FIOsObject() = default;
    virtual void* GetOsInfo(int kind) = 0;
    virtual bool SetOsInfo(int kind, void* value) = 0;
};

// The kind under which windows and pixmaps answer their OS handle.
inline constexpr int kOsInfoHandle = 1;
