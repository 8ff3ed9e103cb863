#pragma once

// Writes multi-page TIFF files by hand (Qt's writer makes single pages only): uncompressed
// 8-bit RGB pages, one strip each, little-endian. Page i is filled with pageColour(i). The
// strip of page `brokenPage` points past the end of the file.

#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QSize>
#include <QString>
#include <QtEndian>

inline QColor tiffPageColour(int page)
{
    return QColor((page * 37) % 256, (page * 91) % 256, (page * 13 + 64) % 256);
}

inline bool writeMultiPageTiff(const QString &path, int pages, const QSize &size,
                               int brokenPage = -1)
{
    QByteArray out("II*\0\0\0\0\0", 8);
    auto put16 = [&out](quint16 v) { out.append(char(v & 0xFF)).append(char(v >> 8)); };
    auto put32 = [&out](quint32 v) {
        for (int i = 0; i < 4; ++i)
            out.append(char((v >> (8 * i)) & 0xFF));
    };
    auto set32 = [&out](int at, quint32 v) { qToLittleEndian<quint32>(v, out.data() + at); };
    const quint32 stripBytes = quint32(size.width() * size.height() * 3);
    int linkAt = 4; // where the offset of the next directory goes
    for (int page = 0; page < pages; ++page) {
        // pixels, then bits-per-sample values, then the directory
        const quint32 pixelsAt = quint32(out.size());
        const QColor c = tiffPageColour(page);
        for (quint32 i = 0; i < stripBytes / 3; ++i)
            out.append(char(c.red())).append(char(c.green())).append(char(c.blue()));
        if (out.size() % 2) out.append('\0');
        const quint32 bitsAt = quint32(out.size());
        put16(8);
        put16(8);
        put16(8);
        const quint32 ifdAt = quint32(out.size());
        set32(linkAt, ifdAt);
        struct Entry
        {
            quint16 tag, type;
            quint32 count, value;
        };
        const Entry entries[] = {
            {256, 4, 1, quint32(size.width())},
            {257, 4, 1, quint32(size.height())},
            {258, 3, 3, bitsAt},
            {259, 3, 1, 1},
            {262, 3, 1, 2},
            {273, 4, 1, page == brokenPage ? 0x7FFFFFF0u : pixelsAt},
            {277, 3, 1, 3},
            {278, 4, 1, quint32(size.height())},
            {279, 4, 1, stripBytes},
            {284, 3, 1, 1},
        };
        put16(quint16(sizeof entries / sizeof entries[0]));
        for (const Entry &e : entries) {
            put16(e.tag);
            put16(e.type);
            put32(e.count);
            if (e.type == 3 && e.count == 1) {
                put16(quint16(e.value));
                put16(0);
            } else {
                put32(e.value);
            }
        }
        linkAt = out.size();
        put32(0);
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(out) == out.size();
}
