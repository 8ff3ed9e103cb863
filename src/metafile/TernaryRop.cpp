#include "TernaryRop.h"

namespace metafile {

quint32 TernaryRop::apply(quint32 p, quint32 s, quint32 d) const
{
    // The union of the minterms the truth table sets: bit i of the code is the result for
    // P = bit 2 of i, S = bit 1, D = bit 0.
    quint32 result = 0;
    for (int i = 0; i < 8; ++i) {
        if (!((m_code >> i) & 1)) continue;
        result |= (i & 4 ? p : ~p) & (i & 2 ? s : ~s) & (i & 1 ? d : ~d);
    }
    return result & 0xFFFFFF;
}

void TernaryRop::apply(QImage &destination, const QImage &pattern, const QImage &source) const
{
    if (destination.format() != QImage::Format_ARGB32_Premultiplied)
        destination = destination.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QSize size = destination.size();
    const bool havePattern = pattern.size() == size && pattern.depth() == 32;
    const bool haveSource = source.size() == size && source.depth() == 32;
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
            const quint32 result = apply(p ? p[x] & 0xFFFFFF : 0, s ? s[x] & 0xFFFFFF : 0, seen);
            if (result != seen) row[x] = 0xFF000000 | result;
        }
    }
}

} // namespace metafile
