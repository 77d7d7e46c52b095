#pragma once

class FIFolder;
class FPropList;
class FWideString;

// Writes the tree (the root and its following siblings) as UTF-16 XML with
// attributes only, one element per line ending in CR LF. The file is written
// under a temporary name and put in place only when complete, so a failed
// write leaves the previous file as it was. Failures are traced, not reported.
// A value holding a double quote, or an ampersand that would read back as a
// character reference, is written with the references "&#34;" and "&#38;",
// so every value reads back unchanged.
void WritePropListXml(FPropList* root, FIFolder* folder, const FWideString& name);
