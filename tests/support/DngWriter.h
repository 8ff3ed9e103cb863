#pragma once

// Writes small DNG files for the raw reader's tests, fuzz seeds and benchmark: IFD0 holds the
// camera's preview (a JPEG or an uncompressed RGB picture), a sub-IFD holds the sensor data
// (16-bit colour-filter-array samples), and an EXIF IFD holds the shooting data.

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QVector>
#include <QtEndian>

#include <algorithm>

namespace dngtest {

enum Type : quint16 { Byte = 1, Ascii = 2, Short = 3, Long = 4, Rational = 5, Undefined = 7 };

// One IFD entry with its value bytes in the file's byte order.
struct Entry
{
    quint16 tag;
    quint16 type;
    quint32 count;
    QByteArray value;
};

class TiffWriter
{
public:
    explicit TiffWriter(bool bigEndian = false) : m_big(bigEndian)
    {
        m_out = m_big ? QByteArray("MM\0*", 4) : QByteArray("II*\0", 4);
        m_out += QByteArray(4, '\0'); // IFD0's offset, set by finish()
    }

    QByteArray u16(quint16 v) const
    {
        QByteArray b(2, '\0');
        m_big ? qToBigEndian(v, b.data()) : qToLittleEndian(v, b.data());
        return b;
    }
    QByteArray u32(quint32 v) const
    {
        QByteArray b(4, '\0');
        m_big ? qToBigEndian(v, b.data()) : qToLittleEndian(v, b.data());
        return b;
    }

    Entry shorts(quint16 tag, const QVector<quint16> &values) const
    {
        QByteArray b;
        for (quint16 v : values)
            b += u16(v);
        return {tag, Short, quint32(values.size()), b};
    }
    Entry longs(quint16 tag, const QVector<quint32> &values) const
    {
        QByteArray b;
        for (quint32 v : values)
            b += u32(v);
        return {tag, Long, quint32(values.size()), b};
    }
    Entry rationals(quint16 tag, const QVector<QPair<quint32, quint32>> &values) const
    {
        QByteArray b;
        for (const auto &v : values)
            b += u32(v.first) + u32(v.second);
        return {tag, Rational, quint32(values.size()), b};
    }
    static Entry ascii(quint16 tag, const QByteArray &text)
    {
        return {tag, Ascii, quint32(text.size() + 1), text + '\0'};
    }
    static Entry bytes(quint16 tag, const QByteArray &values, quint16 type = Byte)
    {
        return {tag, type, quint32(values.size()), values};
    }

    // Appends a block of data (pixels, a JPEG stream) and returns its offset.
    quint32 addData(const QByteArray &data)
    {
        align();
        const quint32 at = quint32(m_out.size());
        m_out += data;
        return at;
    }

    // Appends an IFD (entries sorted by tag, values longer than four bytes after it) and
    // returns its offset.
    quint32 addIfd(QVector<Entry> entries, quint32 next = 0)
    {
        std::sort(entries.begin(), entries.end(),
                  [](const Entry &a, const Entry &b) { return a.tag < b.tag; });
        align();
        const quint32 at = quint32(m_out.size());
        quint32 extra = at + 2 + 12 * quint32(entries.size()) + 4;
        QByteArray table = u16(quint16(entries.size())), values;
        for (const Entry &e : entries) {
            table += u16(e.tag) + u16(e.type) + u32(e.count);
            if (e.value.size() <= 4) {
                table += e.value + QByteArray(4 - e.value.size(), '\0');
            } else {
                table += u32(extra + quint32(values.size()));
                values += e.value;
                if (values.size() % 2) values += '\0';
            }
        }
        m_out += table + u32(next) + values;
        return at;
    }

    QByteArray finish(quint32 ifd0) const
    {
        QByteArray out = m_out;
        out.replace(4, 4, u32(ifd0));
        return out;
    }

private:
    void align()
    {
        if (m_out.size() % 2) m_out += '\0';
    }

    bool m_big;
    QByteArray m_out;
};

inline QByteArray jpegBytes(const QImage &image, int quality = 90)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", quality);
    return bytes;
}

// A picture with four coloured quadrants, so that orientation and scaling show.
inline QImage quadrants(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool right = x >= width / 2, bottom = y >= height / 2;
            image.setPixel(x, y,
                           bottom ? (right ? qRgb(250, 250, 250) : qRgb(0, 0, 240))
                                  : (right ? qRgb(0, 220, 0) : qRgb(230, 0, 0)));
        }
    }
    return image;
}

struct Dng
{
    enum Preview { JpegPreview, BitmapPreview, NoPreview };

    Preview preview = JpegPreview;
    QImage picture = quadrants(96, 64); // the preview's pixels
    QByteArray jpeg;                    // the JPEG stream; made from `picture` when empty
    quint16 orientation = 1;
    QByteArray make = "Picsage";
    QByteArray model = "TestCam 1";
    QByteArray dateTime = "2024:05:06 07:08:09";
    QByteArray lens = "Test Lens 35mm";
    quint32 rawWidth = 128, rawHeight = 96;
    // 1 (uncompressed) is read by every LibRaw; 52546 (JPEG XL) is not known to older ones.
    quint16 rawCompression = 1;
    quint32 isoSpeed = 400;
    QPair<quint32, quint32> exposure = {1, 250}, fNumber = {28, 10}, focalLength = {35, 1};
    QPair<quint32, quint32> maxAperture = {2, 1};
    quint16 flash = 1;
    bool bigEndian = false;
    // A second JPEG preview in a further sub-IFD (smaller or larger than the first).
    QImage secondPreview;
    // An uncompressed RGB thumbnail in a further sub-IFD.
    QImage thumbnail;

    QByteArray build() const
    {
        TiffWriter w(bigEndian);
        // Sensor data: a 2 x 2 colour-filter pattern of 16-bit samples.
        QByteArray samples;
        for (quint32 y = 0; y < rawHeight; ++y)
            for (quint32 x = 0; x < rawWidth; ++x)
                samples += w.u16(quint16((x * 37 + y * 11) % 4096));
        const quint32 rawData = w.addData(samples);
        const quint32 rawIfd = w.addIfd({
            w.longs(0xFE, {0}),
            w.longs(0x100, {rawWidth}),
            w.longs(0x101, {rawHeight}),
            w.shorts(0x102, {16}),
            w.shorts(0x103, {rawCompression}),
            w.shorts(0x106, {32803}),
            w.longs(0x111, {rawData}),
            w.shorts(0x115, {1}),
            w.longs(0x116, {rawHeight}),
            w.longs(0x117, {quint32(samples.size())}),
            w.shorts(0x11C, {1}),
            w.shorts(0x828D, {2, 2}),
            TiffWriter::bytes(0x828E, QByteArray("\0\1\1\2", 4)),
            w.longs(0xC61D, {4095}),
        });
        QVector<quint32> subIfds{rawIfd};
        if (!secondPreview.isNull()) {
            const QByteArray second = jpegBytes(secondPreview);
            const quint32 at = w.addData(second);
            subIfds << w.addIfd({
                w.longs(0xFE, {1}),
                w.longs(0x100, {quint32(secondPreview.width())}),
                w.longs(0x101, {quint32(secondPreview.height())}),
                w.shorts(0x102, {8, 8, 8}),
                w.shorts(0x103, {7}),
                w.shorts(0x106, {6}),
                w.longs(0x111, {at}),
                w.shorts(0x115, {3}),
                w.longs(0x116, {quint32(secondPreview.height())}),
                w.longs(0x117, {quint32(second.size())}),
            });
        }
        if (!thumbnail.isNull()) {
            const QImage rgb = thumbnail.convertToFormat(QImage::Format_RGB888);
            QByteArray pixels;
            for (int y = 0; y < rgb.height(); ++y)
                pixels += QByteArray(reinterpret_cast<const char *>(rgb.constScanLine(y)),
                                     rgb.width() * 3);
            const quint32 at = w.addData(pixels);
            subIfds << w.addIfd({
                w.longs(0xFE, {1}),
                w.longs(0x100, {quint32(rgb.width())}),
                w.longs(0x101, {quint32(rgb.height())}),
                w.shorts(0x102, {8, 8, 8}),
                w.shorts(0x103, {1}),
                w.shorts(0x106, {2}),
                w.longs(0x111, {at}),
                w.shorts(0x115, {3}),
                w.longs(0x116, {quint32(rgb.height())}),
                w.longs(0x117, {quint32(pixels.size())}),
                w.shorts(0x11C, {1}),
            });
        }
        const quint32 exif = w.addIfd({
            w.rationals(0x829A, {exposure}),
            w.rationals(0x829D, {fNumber}),
            w.shorts(0x8827, {quint16(isoSpeed)}),
            TiffWriter::ascii(0x9003, dateTime),
            w.shorts(0x9209, {flash}),
            w.rationals(0x920A, {focalLength}),
            w.rationals(0xA432, {focalLength, focalLength, maxAperture, maxAperture}),
            TiffWriter::ascii(0xA434, lens),
        });

        QVector<Entry> ifd0{
            w.longs(0xFE, {1}),
            TiffWriter::ascii(0x10F, make),
            TiffWriter::ascii(0x110, model),
            w.shorts(0x112, {orientation}),
            TiffWriter::ascii(0x132, dateTime),
            w.longs(0x14A, subIfds),
            w.longs(0x8769, {exif}),
            TiffWriter::bytes(0xC612, QByteArray("\1\4\0\0", 4)),
            TiffWriter::ascii(0xC614, make + ' ' + model),
        };
        if (preview != NoPreview) {
            const bool isJpeg = preview == JpegPreview;
            QByteArray data;
            if (isJpeg) {
                data = jpeg.isEmpty() ? jpegBytes(picture) : jpeg;
            } else {
                const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
                for (int y = 0; y < rgb.height(); ++y)
                    data += QByteArray(reinterpret_cast<const char *>(rgb.constScanLine(y)),
                                       rgb.width() * 3);
            }
            const quint32 at = w.addData(data);
            ifd0 += {w.longs(0x100, {quint32(picture.width())}),
                     w.longs(0x101, {quint32(picture.height())}),
                     w.shorts(0x102, {8, 8, 8}),
                     w.shorts(0x103, {quint16(isJpeg ? 7 : 1)}),
                     w.shorts(0x106, {quint16(isJpeg ? 6 : 2)}),
                     w.longs(0x111, {at}),
                     w.shorts(0x115, {3}),
                     w.longs(0x116, {quint32(picture.height())}),
                     w.longs(0x117, {quint32(data.size())}),
                     w.shorts(0x11C, {1})};
        }
        return w.finish(w.addIfd(ifd0));
    }
};

} // namespace dngtest
