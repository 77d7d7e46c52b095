#pragma once

class FIFolder;
class FPropList;
class FWideString;

// Writes the tree (the root and its following siblings) as UTF-16 XML with
// attributes only, one element per line ending in CR LF. The file is written
// under a temporary name, synced, and put in place of the old one in a single
// step, so a failed or interrupted write leaves the previous file as it was.
// A "<name>.bak" left by an interrupted save of the older two-rename kind (the
// reader falls back to it) is removed only once the new file is in place.
// False when the file was not saved (the reason is traced).
// Attribute values write "&", "<", ">", the double quote and control
// characters as numeric references, so standard XML readers accept the file
// and every value reads back unchanged.
bool WritePropListXml(FPropList* root, FIFolder* folder, const FWideString& name);
