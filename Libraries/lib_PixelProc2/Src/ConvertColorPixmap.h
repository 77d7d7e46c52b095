#pragma once

#include "FPixmap.h"
#include "FRect.h"

// Converts a region of `source` (any id 1 to 17) into `destination`, whose id must be 6,
// 7, 8, 10, 11, 13, 15 or 17. The region is `crop` when given, else the whole source; each
// of its rows fills the next destination row from row 0 with as many pixels as the
// destination has columns, read from the region's left column on. Channels change width
// by shifts of the width difference, unclamped; a mono value goes into all three
// channels; 32-bit destinations receive 255 as alpha.
//
// A destination with fewer rows than the source, without a crop, receives the top rows
// only. A crop must lie inside the source with room for a whole destination row from its
// left column. Every failure throws FException before anything is written.
void ConvertColorPixmap(const FPixmap& source, FPixmap* destination, const FRect* crop);

// The bodies that ConvertColorPixmap chooses between: sources of ids 1 to 5, and 6 to 17.
void ConvertMonoPixmap(const FPixmap& source, FPixmap& destination, const FRect* crop);
void ConvertColorSourcePixmap(const FPixmap& source, FPixmap& destination, const FRect* crop);
