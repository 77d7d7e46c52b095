#pragma once

#include "CamUsbTransport.h"

// The system's USB library behind the transport's driver seam.
uint32_t UsbStatusFromLibusb(int error);
// The configured camera ids, read from the application-data folder.
std::string UsbCameraIdsPath();
