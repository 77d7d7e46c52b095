#pragma once

#include "FWideString.h"

// Writes a small file (8-bit text, one byte per unit below 256) into a folder
// only this user can reach, replacing an earlier file of the name there; the
// file's URL on success. Files handed to other programs go here, never to a
// shared name in the common temporary folder.
bool WriteOsPrivateTempFile(const FWideString& name, const FWideString& text, FWideString& url);
