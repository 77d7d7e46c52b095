#pragma once

// The file-backed device: a disk file holding an image of a camera's register
// spaces, laid one after another, for testing the layers above without hardware.

#include "CamDevice.h"

#include <cstdint>
#include <string>

// Devices of this transport are never listed: the list stays empty.
int FileDevCount();
bool FileDevNameAt(int index, std::string& text);
// The file position of an address; false when the address lies outside the image.
bool FileDevOffset(uint32_t offset, uint32_t space, uint64_t& position);

CamTransportOps& CamFileTransportOps();
