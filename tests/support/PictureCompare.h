#pragma once

// Pixel comparisons for pictures decoded or painted by different routes.

#include <QImage>
#include <QString>

// The largest difference of any channel between two pictures of the same size, after both
// are brought to 32-bit ARGB; -1 when the sizes differ.
inline int maxChannelDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size()) return -1;
    const QImage x = a.convertToFormat(QImage::Format_ARGB32);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32);
    int worst = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const auto *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            worst = qMax(worst, qAbs(qRed(p[col]) - qRed(q[col])));
            worst = qMax(worst, qAbs(qGreen(p[col]) - qGreen(q[col])));
            worst = qMax(worst, qAbs(qBlue(p[col]) - qBlue(q[col])));
            worst = qMax(worst, qAbs(qAlpha(p[col]) - qAlpha(q[col])));
        }
    }
    return worst;
}

// The mean absolute difference over all channels, 0-255; -1 when the sizes differ.
inline double meanChannelDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size()) return -1;
    const QImage x = a.convertToFormat(QImage::Format_ARGB32);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const auto *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            sum += qAbs(qRed(p[col]) - qRed(q[col])) + qAbs(qGreen(p[col]) - qGreen(q[col])) +
                   qAbs(qBlue(p[col]) - qBlue(q[col])) + qAbs(qAlpha(p[col]) - qAlpha(q[col]));
        }
    }
    return sum / (4.0 * x.width() * x.height());
}

// A small picture whose four quadrants differ in colour and alpha, so that every turn and
// mirror gives different pixels.
inline QImage quadrantPicture(const QSize &size, QImage::Format format)
{
    QImage image(size, QImage::Format_ARGB32);
    const int hw = size.width() / 2, hh = size.height() / 2;
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            QRgb c;
            if (x < hw && y < hh)
                c = qRgba(230, 20, 20, 255);
            else if (y < hh)
                c = qRgba(20, 200, 30, 255);
            else if (x < hw)
                c = qRgba(20, 40, 220, 255);
            else
                c = qRgba(240, 220, 30, 128);
            // a gradient inside each quadrant tells the pixels apart
            c = qRgba((qRed(c) + x) % 256, qGreen(c), (qBlue(c) + y) % 256, qAlpha(c));
            image.setPixel(x, y, c);
        }
    }
    return image.convertToFormat(format);
}
