#pragma once

// What an EXIF orientation value (1-8) asks of a stored picture to show it upright.

// The angle of the turn: 180 for 3-4, 90 for 5-6, -90 for 7-8, else 0.
int quarterTurnAngle(int orientation);

// Whether the turned picture is also mirrored left to right: 2, 4, 5 and 7.
inline bool isMirroringOrientation(long orientation)
{
    return orientation == 2 || orientation == 4 || orientation == 5 || orientation == 7;
}
