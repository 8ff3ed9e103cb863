#include "image/ImagePixmap.h"

// Painting a clip-mode picture from tiles decoded at the zoom's resolution. Until the tile
// tree exists the reduced decode is painted, scaled up.
bool ImagePixmap::paintClip(QPainter *, const QImage &, const QRect &, const QRect &, double)
{
    return false;
}
