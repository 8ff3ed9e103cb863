#pragma once

#include <QImage>
#include <QtGlobal>

namespace metafile {

// A ternary raster operation of a bit-block transfer: its code (the third byte of the
// record's value) is the truth table of the result over the brush's bit (P, 0xF0), the
// source's (S, 0xCC) and the destination's (D, 0xAA), applied to every bit of the RGB
// values alike.
class TernaryRop
{
public:
    explicit TernaryRop(quint32 rop) : m_code(quint8(rop >> 16)) {}

    quint8 code() const { return m_code; }
    bool isNoOp() const { return m_code == 0xAA; }
    bool usesPattern() const { return ((m_code >> 4) ^ m_code) & 0x0F; }
    bool usesSource() const { return ((m_code >> 2) ^ m_code) & 0x33; }
    bool usesDestination() const { return ((m_code >> 1) ^ m_code) & 0x55; }

    // The result for 24-bit RGB values.
    quint32 apply(quint32 pattern, quint32 source, quint32 destination) const;

    // Applies the operation to every pixel of `destination` (premultiplied ARGB, seen over
    // white paper): `pattern` and `source` are of the same size, or null: the source is then
    // black and the brush `solid`. A pixel the operation leaves as it was keeps its
    // transparency; any other becomes opaque.
    void apply(QImage &destination, const QImage &pattern, const QImage &source,
               QRgb solid = 0) const;

private:
    quint8 m_code;
};

} // namespace metafile
