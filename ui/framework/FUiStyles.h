#pragma once

class FPropList;
class FWideString;

// Rewrites a parsed script before anything is made from it: platform sections
// and style references.

// Keeps the children of the sections of this platform in their place and
// drops the other platforms' sections whole.
void ApplyPlatformSections(FPropList* root, bool isMacOS, bool isWindowsOS);

// Expands every "Style" and "SwitchedStyle" attribute of the node, its following
// siblings and all their descendants: the referenced attributes are inserted
// right after the referring one, so attributes written before it win. Throws
// FExceptionUiScript for a reference that cannot be resolved.
bool ApplyStyles(FPropList* first);

// The nearest STYLE named so, looking back through earlier siblings and then
// up through the parents; null when none.
FPropList* FindStyle(FPropList* start, const FWideString& name);
// The chosen attribute set of the nearest SWITCHED_STYLE named so, by the same walk.
FPropList* FindSwitchedStyle(FPropList* start, const FWideString& name);
