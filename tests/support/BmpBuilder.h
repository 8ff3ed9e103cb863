#pragma once

// Builds BMP files field by field, so that tests can make every header variant and every
// damage a writer may leave.

#include <QByteArray>
#include <QRgb>
#include <QVector>
#include <QtEndian>

struct BmpBuilder
{
    int infoSize = 40;
    int width = 1;
    int height = 1; // negative: rows top-down
    int bits = 24;
    quint32 compression = 0;
    // Written after a 40-byte header, or into the larger headers that hold them.
    QVector<quint32> masks;
    QVector<QRgb> palette;
    QByteArray pixels; // as stored, rows padded by the test
    // Where the header says the pixels start; -1: right after the palette.
    qint64 pixelsAt = -1;

    QByteArray build() const
    {
        QByteArray info(infoSize, '\0');
        if (infoSize == 12) {
            put16(info, 4, width);
            put16(info, 6, height);
            put16(info, 8, 1);
            put16(info, 10, bits);
        } else {
            put32(info, 4, quint32(width));
            put32(info, 8, quint32(height));
            put16(info, 12, 1);
            put16(info, 14, bits);
            if (infoSize >= 20) put32(info, 16, compression);
            if (infoSize >= 36) put32(info, 32, quint32(palette.size()));
            for (int i = 0; infoSize > 40 && i < masks.size() && 40 + 4 * i + 4 <= infoSize; ++i)
                put32(info, 40 + 4 * i, masks.at(i));
        }
        put32(info, 0, quint32(infoSize));
        QByteArray after;
        if (infoSize == 40)
            for (quint32 mask : masks) {
                QByteArray field(4, '\0');
                put32(field, 0, mask);
                after += field;
            }
        for (QRgb colour : palette) {
            after += char(qBlue(colour));
            after += char(qGreen(colour));
            after += char(qRed(colour));
            if (infoSize != 12) after += '\0';
        }
        QByteArray file("BM");
        file += QByteArray(12, '\0');
        const qint64 at = pixelsAt >= 0 ? pixelsAt : 14 + infoSize + after.size();
        file += info + after + pixels;
        put32(file, 2, quint32(file.size()));
        put32(file, 10, quint32(at));
        return file;
    }

    static void put16(QByteArray &bytes, int at, int value)
    {
        qToLittleEndian(quint16(value), bytes.data() + at);
    }
    static void put32(QByteArray &bytes, int at, quint32 value)
    {
        qToLittleEndian(value, bytes.data() + at);
    }
};
