#pragma once

// The quarter turns the user gave pictures from other cameras (JPEG and TIFF files).
// A picture is never rewritten for them: they live in "PictureTurns.xml" in the
// application-data folder, beside the program's other state, each under the picture's
// URL and identity (its size and time), so that a picture replaced or edited elsewhere
// starts unturned. Safe to use from any thread.

class FWideString;

// Entries kept at most; the oldest go first.
inline constexpr int kMaxPictureTurns = 20000;

// Clockwise degrees (0, 90, 180 or 270) the user turned the picture.
int GetPictureTurn(const FWideString& url, const FWideString& identity);
// Stores the user's turn; false (and nothing changed) when the file could not be written.
bool SetPictureTurn(const FWideString& url, const FWideString& identity, int degrees);
// Drops what was read, so that the next use reads the file again (the program's exit).
void ForgetPictureTurns();
