#pragma once

// The narrow file API under the "camera" storage class: the camera list, and
// stat, read, write, delete and attributes of a file by camera name and path.
// A camera that does not answer falls back to the virtual camera, a local
// folder that stands in for one.

#include "FWideString.h"

#include <cstdint>
#include <string>

inline constexpr const char* kVirtualCameraName = "<<<VirtualCamera>>>";
inline constexpr const char* kConsolePath = "/debug/console";
// A listing of the virtual camera larger than this fails rather than grow without bound.
constexpr size_t kVirtualListingCap = 16u << 20;

// Device names joined by "\n" with a NUL, written only when they fit; length
// becomes the size needed. Answers the number of devices.
int CamProtoListCameras(char* buffer, uint32_t& length);
// As above, plus the virtual camera when it is on. Only whole names are written.
int CamListCameras(char* buffer, uint32_t& length);
FWideString CamListNameAt(int n);
FWideString CamFirstConnected();
bool CamIsAvailable(const char* name);
bool CamIsVirtual(const char* name);

bool CamFileStat(const char* camera, const char* path, uint32_t* size, uint32_t* time, uint32_t* attributes);
// Asks a connected camera about one path: false when it does not answer (or is the virtual
// camera); otherwise `readable` tells whether the path is a file that can be read.
bool CamFileIsReadable(const char* camera, const char* path, bool& readable);
uint32_t CamFileRead(const char* camera, const char* path, uint32_t offset, void* buffer, uint32_t length);
bool CamFileWrite(const char* camera, const char* path, uint32_t offset, const void* data, uint32_t length);
bool CamFileDelete(const char* camera, const char* path);
bool CamFileSetAttributes(const char* camera, const char* path, uint32_t attributes);

// The virtual camera: a folder, on while it holds a file "Connected".
bool VirtualCamIsEnabled();
// The folder; empty restores "VirtualCamera" in the current working folder.
void VirtualCamSetRoot(const std::string& folder);
std::string VirtualCamGetRoot();
// Local path of a camera path; false for "." or ".." components, which would leave the folder.
bool VirtualCamLocalPath(const char* path, std::string& local);
bool VirtualCamStat(const char* path, uint32_t* size, uint32_t* time, uint32_t* attributes);
uint32_t VirtualCamRead(const char* path, uint32_t offset, void* buffer, uint32_t length);
bool VirtualCamWrite(const char* path, uint32_t offset, const void* data, uint32_t length);
bool VirtualCamDelete(const char* path);
bool VirtualCamSetAttributes(const char* path, uint32_t attributes);
// The listing text of a pattern path ("*" or "?" in it); false for other paths or an over-long listing.
bool VirtualCamListing(const char* path, std::string& text);
bool CamIsPatternPath(const char* path);
