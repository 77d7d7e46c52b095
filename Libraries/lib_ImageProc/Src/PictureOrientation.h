#pragma once

// How a picture from another camera (a JPEG or TIFF file) is turned to be seen upright:
// mirrored left to right first when asked, then turned clockwise. The file's EXIF
// orientation and the user's own quarter turns both come down to this.

struct FPictureOrientation {
    // Clockwise degrees: 0, 90, 180 or 270.
    int m_iRotation = 0;
    bool m_bMirror = false;
};

// The turn that shows a picture of EXIF orientation 1 to 8 upright; any other value
// is taken as 1 (as stored).
inline FPictureOrientation OrientationOfExif(int orientation)
{
    switch (orientation) {
    case 2:
        return {0, true};
    case 3:
        return {180, false};
    case 4:
        return {180, true};
    case 5:
        return {270, true};
    case 6:
        return {90, false};
    case 7:
        return {90, true};
    case 8:
        return {270, false};
    }
    return {0, false};
}

// Degrees as one of 0, 90, 180 and 270; other angles give 0.
inline int QuarterTurnOf(int degrees)
{
    const int turn = ((degrees % 360) + 360) % 360;
    return turn % 90 == 0 ? turn : 0;
}
