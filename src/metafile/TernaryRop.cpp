#include "TernaryRop.h"

namespace metafile {

namespace {

// The operation as four masks of the brush, one for each pair of source and destination bits
// (index 2 S + D): the result is the mask that the source and destination bits select.
struct Selection
{
    quint32 bySourceDest[4];
};

Selection select(quint8 code, quint32 p)
{
    Selection t;
    for (int sd = 0; sd < 4; ++sd) {
        const quint32 whenP = (code >> (4 + sd)) & 1 ? ~0u : 0u;
        const quint32 whenNotP = (code >> sd) & 1 ? ~0u : 0u;
        t.bySourceDest[sd] = (p & whenP) | (~p & whenNotP);
    }
    return t;
}

inline quint32 evaluate(const Selection &t, quint32 s, quint32 d)
{
    return (s & d & t.bySourceDest[3]) | (s & ~d & t.bySourceDest[2]) |
           (~s & d & t.bySourceDest[1]) | (~s & ~d & t.bySourceDest[0]);
}

} // namespace

quint32 TernaryRop::apply(quint32 p, quint32 s, quint32 d) const
{
    return evaluate(select(m_code, p), s, d) & 0xFFFFFF;
}

void TernaryRop::apply(QImage &destination, const QImage &pattern, const QImage &source,
                       QRgb solid) const
{
    if (destination.format() != QImage::Format_ARGB32_Premultiplied)
        destination = destination.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QSize size = destination.size();
    const bool havePattern = pattern.size() == size && pattern.depth() == 32;
    const bool haveSource = source.size() == size && source.depth() == 32;
    const Selection whole = select(m_code, solid & 0xFFFFFF);
    for (int y = 0; y < size.height(); ++y) {
        QRgb *row = reinterpret_cast<QRgb *>(destination.scanLine(y));
        const QRgb *p =
            havePattern ? reinterpret_cast<const QRgb *>(pattern.constScanLine(y)) : nullptr;
        const QRgb *s =
            haveSource ? reinterpret_cast<const QRgb *>(source.constScanLine(y)) : nullptr;
        for (int x = 0; x < size.width(); ++x) {
            // Premultiplied over white: each channel gains what the alpha leaves uncovered.
            const QRgb d = row[x];
            const quint32 cover = 255 - qAlpha(d);
            const quint32 seen = (quint32(qRed(d)) + cover) << 16 |
                                 (quint32(qGreen(d)) + cover) << 8 | (quint32(qBlue(d)) + cover);
            const quint32 result =
                evaluate(p ? select(m_code, p[x]) : whole, s ? s[x] : 0, seen) & 0xFFFFFF;
            if (result != seen) row[x] = 0xFF000000 | result;
        }
    }
}

} // namespace metafile
