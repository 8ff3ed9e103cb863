#pragma once

// Builds small files byte by byte for the readers' tests: TGA, PCX, Sun raster, Netpbm and
// WBMP files with exactly the fields a case needs.

#include <QByteArray>
#include <QImage>
#include <QVector>

class ByteFileBuilder
{
public:
    ByteFileBuilder &u8(int v)
    {
        m_bytes.append(char(v));
        return *this;
    }
    ByteFileBuilder &bytes(std::initializer_list<int> values)
    {
        for (int v : values)
            u8(v);
        return *this;
    }
    ByteFileBuilder &le16(int v) { return u8(v & 0xff).u8(v >> 8 & 0xff); }
    ByteFileBuilder &le32(quint32 v) { return le16(int(v & 0xffff)).le16(int(v >> 16)); }
    ByteFileBuilder &be32(quint32 v)
    {
        return u8(int(v >> 24)).u8(int(v >> 16 & 0xff)).u8(int(v >> 8 & 0xff)).u8(int(v & 0xff));
    }
    ByteFileBuilder &text(const char *s)
    {
        m_bytes.append(s);
        return *this;
    }
    ByteFileBuilder &fill(int count, int v)
    {
        m_bytes.append(QByteArray(count, char(v)));
        return *this;
    }
    ByteFileBuilder &append(const QByteArray &more)
    {
        m_bytes.append(more);
        return *this;
    }
    int size() const { return m_bytes.size(); }
    operator QByteArray() const { return m_bytes; }

    // An 18-byte TGA header.
    static ByteFileBuilder tga(int type, int width, int height, int depth, int descriptor,
                               int mapType = 0, int mapFirst = 0, int mapLength = 0,
                               int mapBits = 0, int idLength = 0)
    {
        ByteFileBuilder b;
        b.u8(idLength).u8(mapType).u8(type).le16(mapFirst).le16(mapLength).u8(mapBits);
        return b.le16(0).le16(0).le16(width).le16(height).u8(depth).u8(descriptor);
    }
    // A TGA 2.0 extension area saying `attributesType`, then the footer pointing at it.
    ByteFileBuilder &tgaFooter(int attributesType)
    {
        const int area = size();
        le16(495).fill(492, 0).u8(attributesType);
        return le32(quint32(area)).le32(0).text("TRUEVISION-XFILE.").u8(0);
    }

    // A 128-byte PCX header; `palette` gives the first header colours.
    static ByteFileBuilder pcx(int bits, int planes, int width, int height, int bytesPerLine,
                               int encoding = 1, const QVector<QRgb> &palette = {})
    {
        ByteFileBuilder b;
        b.u8(0x0a).u8(5).u8(encoding).u8(bits).le16(0).le16(0).le16(width - 1).le16(height - 1);
        b.le16(72).le16(72);
        for (int i = 0; i < 16; ++i) {
            const QRgb c = i < palette.size() ? palette[i] : 0;
            b.u8(qRed(c)).u8(qGreen(c)).u8(qBlue(c));
        }
        b.u8(0).u8(planes).le16(bytesPerLine).le16(1).le16(0).le16(0);
        return b.fill(54, 0);
    }
    // The 256-colour palette at a PCX file's end; unnamed entries are black.
    ByteFileBuilder &pcxPalette(const QVector<QRgb> &colours)
    {
        u8(0x0c);
        for (int i = 0; i < 256; ++i) {
            const QRgb c = i < colours.size() ? colours[i] : 0;
            u8(qRed(c)).u8(qGreen(c)).u8(qBlue(c));
        }
        return *this;
    }

    // A 32-byte Sun raster header.
    static ByteFileBuilder sun(int width, int height, int depth, int type, int mapType = 0,
                               int mapLength = 0, quint32 length = 0)
    {
        ByteFileBuilder b;
        b.be32(0x59a66a95).be32(quint32(width)).be32(quint32(height)).be32(quint32(depth));
        return b.be32(length).be32(quint32(type)).be32(quint32(mapType)).be32(quint32(mapLength));
    }

private:
    QByteArray m_bytes;
};

// A picture from its pixels, row by row from the top.
inline QImage picture(int width, int height, const QVector<QRgb> &pixels)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int i = 0; i < width * height; ++i)
        image.setPixel(i % width, i / width, pixels.value(i));
    return image;
}
