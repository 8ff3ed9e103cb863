#pragma once

// Comparing renderings that come from different renderers or different routes: over white,
// cropped to what was drawn, reduced, and measured by their mean difference.

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cstdlib>

namespace imagecompare {

// The picture composed over opaque white, as 32-bit RGB.
inline QImage overWhite(const QImage &image)
{
    QImage out(image.size(), QImage::Format_RGB32);
    out.fill(Qt::white);
    QPainter p(&out);
    p.drawImage(0, 0, image);
    return out;
}

// The smallest rectangle holding every pixel that differs from white by more than
// `threshold` in a channel; null when there is none.
inline QRect drawnContent(const QImage &rgb, int threshold = 40)
{
    int left = rgb.width(), top = rgb.height(), right = -1, bottom = -1;
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            const QRgb c = row[x];
            if (255 - qRed(c) > threshold || 255 - qGreen(c) > threshold ||
                255 - qBlue(c) > threshold) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

// Mean absolute difference per channel (0-255) of two pictures of the same size.
inline double meanDifference(const QImage &a, const QImage &b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    if (x.size() != y.size() || x.isNull()) return 255;
    double sum = 0;
    for (int r = 0; r < x.height(); ++r) {
        const QRgb *p = reinterpret_cast<const QRgb *>(x.constScanLine(r));
        const QRgb *q = reinterpret_cast<const QRgb *>(y.constScanLine(r));
        for (int c = 0; c < x.width(); ++c)
            sum += std::abs(qRed(p[c]) - qRed(q[c])) + std::abs(qGreen(p[c]) - qGreen(q[c])) +
                   std::abs(qBlue(p[c]) - qBlue(q[c]));
    }
    return sum / (3.0 * x.width() * x.height());
}

// Mean absolute difference per channel over the pixels that are inked (differ from white
// by more than 24 in a channel) in either picture: drawings that mostly leave white paper
// are told apart by what is drawn, not by the paper.
inline double inkDifference(const QImage &a, const QImage &b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    if (x.size() != y.size() || x.isNull()) return 255;
    auto inked = [](QRgb c) {
        return 255 - qRed(c) > 24 || 255 - qGreen(c) > 24 || 255 - qBlue(c) > 24;
    };
    double sum = 0;
    qint64 count = 0;
    for (int r = 0; r < x.height(); ++r) {
        const QRgb *p = reinterpret_cast<const QRgb *>(x.constScanLine(r));
        const QRgb *q = reinterpret_cast<const QRgb *>(y.constScanLine(r));
        for (int c = 0; c < x.width(); ++c) {
            if (!inked(p[c]) && !inked(q[c])) continue;
            sum += std::abs(qRed(p[c]) - qRed(q[c])) + std::abs(qGreen(p[c]) - qGreen(q[c])) +
                   std::abs(qBlue(p[c]) - qBlue(q[c]));
            ++count;
        }
    }
    return count ? sum / (3.0 * count) : 0;
}

// Share of pixels whose largest channel difference exceeds `threshold`.
inline double differingShare(const QImage &a, const QImage &b, int threshold)
{
    const QImage x = a.convertToFormat(QImage::Format_ARGB32);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32);
    if (x.size() != y.size() || x.isNull()) return 1;
    qint64 count = 0;
    for (int r = 0; r < x.height(); ++r) {
        const QRgb *p = reinterpret_cast<const QRgb *>(x.constScanLine(r));
        const QRgb *q = reinterpret_cast<const QRgb *>(y.constScanLine(r));
        for (int c = 0; c < x.width(); ++c) {
            const int d = std::max(
                {std::abs(qRed(p[c]) - qRed(q[c])), std::abs(qGreen(p[c]) - qGreen(q[c])),
                 std::abs(qBlue(p[c]) - qBlue(q[c])), std::abs(qAlpha(p[c]) - qAlpha(q[c]))});
            if (d > threshold) ++count;
        }
    }
    return double(count) / (double(x.width()) * x.height());
}

// Both pictures over white, cropped to their drawn content and reduced to `width` pixels
// wide (the same height for both), then their difference where either is inked.
inline double contentDifference(const QImage &a, const QImage &b, int width,
                                QImage *reducedA = nullptr, QImage *reducedB = nullptr)
{
    const QImage wa = overWhite(a), wb = overWhite(b);
    const QRect ca = drawnContent(wa), cb = drawnContent(wb);
    if (ca.isNull() || cb.isNull()) return 255;
    const int height = std::max(1, width * ca.height() / ca.width());
    const QImage ra =
        wa.copy(ca).scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage rb =
        wb.copy(cb).scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (reducedA) *reducedA = ra;
    if (reducedB) *reducedB = rb;
    return inkDifference(ra, rb);
}

} // namespace imagecompare
