#include "image/PictureAlpha.h"

#include <QPainter>

bool isOpaque(const QImage &picture)
{
    for (int y = 0; y < picture.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            if (qAlpha(line[x]) != 255) return false;
        }
    }
    return true;
}

QImage flattenOntoWhite(const QImage &picture)
{
    QImage flat(picture.size(), QImage::Format_RGB32);
    if (flat.isNull()) return {};
    flat.fill(0xFFFFFFFF);
    QPainter painter(&flat);
    painter.drawImage(0, 0, picture);
    painter.end();
    return flat;
}
