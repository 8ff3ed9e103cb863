#include "image/ImagePixmap.h"

#include "image/ImageWrapper.h"
#include "image/PixmapClipRoot.h"

#include <QPainter>
#include <QTransform>

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
    // The tiles are cut from the picture as stored: they are painted through the same turn
    // as the whole picture, and asked for the part of the stored picture that shows.
    const QTransform upright = painter->worldTransform();
    int width = target.width(), height = target.height();
    translateByExif(painter, width, height, orientation());
    const QTransform turn = painter->worldTransform() * upright.inverted();
    const QRect shown = target.intersected(visible).translated(-target.topLeft());
    root->paint(painter, turn.inverted().mapRect(shown), scale);
    painter->restore();
    return true;
}
