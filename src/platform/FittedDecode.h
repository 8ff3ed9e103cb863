#pragma once

#include <QImage>
#include <QSize>

class QImageReader;

namespace platform {

// Decodes the picture `reader` stands at fitted into `fitted` (smaller than the stored size
// in both directions), holding little more than the result at any time: a JPEG is decoded
// by its codec at the smallest power-of-two reduction that still covers `fitted`, then
// smoothly reduced in the same memory, which then shrinks to the result. Colour pictures
// come back as Format_RGB888, grey ones as Format_Grayscale8 (opaque pixels need no fourth
// byte); other formats are read at `fitted` as their reader gives them. Null when the
// picture cannot be decoded.
QImage decodeFitted(QImageReader &reader, const QSize &stored, const QSize &fitted);

// The codec's reduced size at which decodeFitted decodes a JPEG of `stored` pixels.
QSize reducedDecodeSize(const QSize &stored, const QSize &fitted);

// Reduces `in` (opaque 32-bit or 8-bit grey pixels, `inSize` at `inStride` bytes per line)
// to `outSize` (no larger in either direction) by area averaging, writing 24-bit RGB (or
// 8-bit grey) lines of `outStride` bytes starting at `out`, which may be `in` itself when
// `outStride` <= `inStride`. False for sizes or strides that do not fit.
bool reduceByAreaAverage(const uchar *in, const QSize &inSize, qsizetype inStride, int inBytes,
                         uchar *out, const QSize &outSize, qsizetype outStride);

} // namespace platform
