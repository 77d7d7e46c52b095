#pragma once

// What the raw container loader reads from and writes to a container's header
// beside its sections: mark bits, rotation, white-balance label, unique id and the
// extended-data slots that hold the user's stored adjustments.

#include <string>

class FBribImageReader;
class FBribImageWriter;
class FPropList;

// Header fields and stored adjustments merged into a list that already holds the
// container's property sections.
void AddBribHeaderProperties(FBribImageReader& reader, FPropList& list);

// The 16-byte unique id as 32 upper-case hex digits.
std::string FormatBribUniqueID(const unsigned char* id);

// The rotation a "ROTATION" change text asks for: a leading sign adds to the current
// rotation; the result is brought into 0 to 359.
unsigned ResolveRotationChange(const char* text, unsigned current);

// Stores one adjustment in the slot of its type, freeing later duplicates, or in the
// first free slot; false when the header has no slots or none is free.
bool SetBribExtData(FBribImageWriter& writer, int type, double value);

// False when the list holds none of the changes the header takes: no file need be opened.
bool HasBribHeaderChanges(const FPropList& changes);

// Applies the changes in their fixed order and stops at the first refusal; false then,
// with the name of the refused item.
bool ApplyBribHeaderChanges(FBribImageWriter& writer, const FPropList& changes, std::string& failedItem);
