#pragma once

// Pictures whose headers say what the test wants them to say, above all sizes far larger
// than their data.

#include <QByteArray>
#include <QSize>

// A BMP: its two headers for `size` at `bitsPerPixel` with `compression` (0 none, 1
// run-length 8-bit), a palette of `colours` zero entries, then `data`.
inline QByteArray bmpBytes(const QSize &size, quint16 bitsPerPixel, quint32 compression = 0,
                           quint32 colours = 0, const QByteArray &data = {})
{
    QByteArray bmp("BM", 2);
    auto le32 = [&bmp](quint32 v) {
        for (int i = 0; i < 4; ++i)
            bmp.append(char((v >> (8 * i)) & 0xFF));
    };
    auto le16 = [&bmp](quint16 v) { bmp.append(char(v & 0xFF)).append(char(v >> 8)); };
    const quint32 offset = 14 + 40 + colours * 4;
    le32(offset + quint32(data.size()));
    le32(0);
    le32(offset);
    le32(40);
    le32(quint32(size.width()));
    le32(quint32(size.height()));
    le16(1);
    le16(bitsPerPixel);
    le32(compression);
    le32(quint32(data.size()));
    le32(0);
    le32(0);
    le32(colours);
    le32(0);
    bmp.append(QByteArray(int(colours * 4), '\0'));
    bmp.append(data);
    return bmp;
}

// `jpeg` with the size in its frame header (baseline, extended or progressive) replaced;
// empty when it has none.
inline QByteArray withFrameSize(QByteArray jpeg, const QSize &size)
{
    for (int i = 2; i + 9 < jpeg.size();) {
        const auto marker = uchar(jpeg.at(i + 1));
        const int length = uchar(jpeg.at(i + 2)) << 8 | uchar(jpeg.at(i + 3));
        if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) {
            jpeg[i + 5] = char(size.height() >> 8);
            jpeg[i + 6] = char(size.height() & 0xFF);
            jpeg[i + 7] = char(size.width() >> 8);
            jpeg[i + 8] = char(size.width() & 0xFF);
            return jpeg;
        }
        i += 2 + length;
    }
    return {};
}
