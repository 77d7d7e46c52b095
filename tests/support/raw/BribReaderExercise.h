#pragma once

// Drives every operation of the raw container reader over one file, the way the
// raw loader would: header fields, properties, every camera-data block (read into
// a buffer of the size the reader reports) and every image's information.
// Exceptions of the reader pass through.

#include "FWideString.h"

namespace rawtest
{

void ExerciseBribReader(const FWideString& url);

} // namespace rawtest
