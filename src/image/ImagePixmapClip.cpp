#include "image/ImagePixmap.h"

#include "image/ImageWrapper.h"
#include "image/PixmapClipRoot.h"

#include <QPainter>

// Painting a clip-mode picture from tiles decoded at the zoom's resolution; the tree is
// made on the first zoom past the reduced decode and lives as long as the wrapper's picture.
bool ImagePixmap::paintClip(QPainter *painter, const QImage &frame, const QRect &target,
                            const QRect &visible, double scale)
{
    PixmapClipRoot *root = clipRoot();
    if (!root) {
        root = new PixmapClipRoot(pathName(), originalSize(), frame, owner());
        setClipRoot(root);
    }
    painter->save();
    painter->translate(target.topLeft());
    root->paint(painter, target.intersected(visible).translated(-target.topLeft()), scale);
    painter->restore();
    return true;
}
