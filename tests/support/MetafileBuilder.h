#pragma once

// Tiny Windows metafiles and enhanced metafiles written byte by byte, so that tests can
// state exactly which records a file holds (including broken ones).

#include <QByteArray>
#include <QColor>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QVector>

#include <cstring>
#include <initializer_list>

namespace mftest {

// Little-endian bytes.
struct Le
{
    QByteArray bytes;

    Le &u8(quint8 v)
    {
        bytes.append(char(v));
        return *this;
    }
    Le &u16(quint16 v) { return u8(quint8(v)).u8(quint8(v >> 8)); }
    Le &i16(qint16 v) { return u16(quint16(v)); }
    Le &u32(quint32 v) { return u16(quint16(v)).u16(quint16(v >> 16)); }
    Le &i32(qint32 v) { return u32(quint32(v)); }
    Le &f32(float v)
    {
        quint32 bits;
        std::memcpy(&bits, &v, sizeof bits);
        return u32(bits);
    }
    Le &color(const QColor &c)
    {
        return u8(quint8(c.red())).u8(quint8(c.green())).u8(quint8(c.blue())).u8(0);
    }
    Le &raw(const QByteArray &b)
    {
        bytes += b;
        return *this;
    }
};

// A 24-bit bottom-up device-independent bitmap: BITMAPINFOHEADER, then the rows.
inline QByteArray dib24(const QVector<QVector<QColor>> &topDownRows, QByteArray *bitsOut)
{
    const int h = topDownRows.size(), w = topDownRows.value(0).size();
    const int stride = (w * 3 + 3) & ~3;
    Le info;
    info.u32(40)
        .i32(w)
        .i32(h)
        .u16(1)
        .u16(24)
        .u32(0)
        .u32(quint32(stride * h))
        .i32(3780)
        .i32(3780)
        .u32(0)
        .u32(0);
    QByteArray bits;
    for (int y = h - 1; y >= 0; --y) {
        QByteArray row;
        for (const QColor &c : topDownRows[y]) {
            row.append(char(c.blue()));
            row.append(char(c.green()));
            row.append(char(c.red()));
        }
        row.append(QByteArray(stride - row.size(), '\0'));
        bits += row;
    }
    *bitsOut = bits;
    return info.bytes;
}

// An enhanced metafile: the header record, the records added, and EOF.
class EmfBuilder
{
public:
    // `frame` in hundredths of a millimetre; the reference device has `pixelsPerMm`.
    explicit EmfBuilder(const QRect &frame, int pixelsPerMm = 4)
        : m_frame(frame), m_ppm(pixelsPerMm)
    {
    }

    // One record of `type` with `params` after its type and size (padded to 4 bytes).
    EmfBuilder &record(quint32 type, const QByteArray &params)
    {
        QByteArray p = params;
        while (p.size() % 4)
            p.append('\0');
        Le r;
        r.u32(type).u32(quint32(8 + p.size())).raw(p);
        m_records += r.bytes;
        ++m_count;
        return *this;
    }
    // A record with a size field of our choosing, whatever its real length.
    EmfBuilder &rawRecord(quint32 type, quint32 claimedSize, const QByteArray &params)
    {
        Le r;
        r.u32(type).u32(claimedSize).raw(params);
        m_records += r.bytes;
        ++m_count;
        return *this;
    }

    EmfBuilder &ints(quint32 type, std::initializer_list<qint32> values)
    {
        Le p;
        for (qint32 v : values)
            p.i32(v);
        return record(type, p.bytes);
    }

    EmfBuilder &setMapMode(int mode) { return ints(17, {mode}); }
    EmfBuilder &setWindowExt(int x, int y) { return ints(9, {x, y}); }
    EmfBuilder &setWindowOrg(int x, int y) { return ints(10, {x, y}); }
    EmfBuilder &setViewportExt(int x, int y) { return ints(11, {x, y}); }
    EmfBuilder &setViewportOrg(int x, int y) { return ints(12, {x, y}); }
    EmfBuilder &saveDC() { return ints(33, {}); }
    EmfBuilder &restoreDC(int n) { return ints(34, {n}); }
    EmfBuilder &select(quint32 index) { return ints(37, {qint32(index)}); }
    EmfBuilder &deleteObject(quint32 index) { return ints(40, {qint32(index)}); }
    EmfBuilder &rectangle(const QRect &r)
    {
        return ints(43, {r.left(), r.top(), r.right(), r.bottom()});
    }
    EmfBuilder &ellipse(const QRect &r)
    {
        return ints(42, {r.left(), r.top(), r.right(), r.bottom()});
    }
    EmfBuilder &intersectClip(const QRect &r)
    {
        return ints(30, {r.left(), r.top(), r.right(), r.bottom()});
    }
    EmfBuilder &moveTo(int x, int y) { return ints(27, {x, y}); }
    EmfBuilder &lineTo(int x, int y) { return ints(54, {x, y}); }
    EmfBuilder &setPolyFillMode(int mode) { return ints(19, {mode}); }
    EmfBuilder &setBkMode(int mode) { return ints(18, {mode}); }
    EmfBuilder &createBrush(quint32 index, int style, const QColor &c, int hatch = 0)
    {
        Le p;
        p.u32(index).u32(quint32(style)).color(c).u32(quint32(hatch));
        return record(39, p.bytes);
    }
    EmfBuilder &createPen(quint32 index, int style, int width, const QColor &c)
    {
        Le p;
        p.u32(index).u32(quint32(style)).i32(width).i32(0).color(c);
        return record(38, p.bytes);
    }
    EmfBuilder &worldTransform(float m11, float m12, float m21, float m22, float dx, float dy)
    {
        Le p;
        p.f32(m11).f32(m12).f32(m21).f32(m22).f32(dx).f32(dy);
        return record(35, p.bytes);
    }
    // POLYGON16 (86) or POLYLINE16 (87) with the given count field.
    EmfBuilder &poly16(quint32 type, const QVector<QPoint> &points, qint64 claimedCount = -1)
    {
        Le p;
        p.i32(0).i32(0).i32(0).i32(0);
        p.u32(quint32(claimedCount >= 0 ? claimedCount : points.size()));
        for (const QPoint &pt : points)
            p.i16(qint16(pt.x())).i16(qint16(pt.y()));
        return record(type, p.bytes);
    }
    // BITBLT (76) onto `dest` without a source bitmap.
    EmfBuilder &bitBlt(const QRect &dest, quint32 rop)
    {
        Le p;
        p.i32(0).i32(0).i32(0).i32(0);                                      // bounds
        p.i32(dest.x()).i32(dest.y()).i32(dest.width()).i32(dest.height()); // Dest, cDest
        p.u32(rop).i32(0).i32(0);                                           // rop, Src
        p.f32(1).f32(0).f32(0).f32(1).f32(0).f32(0);                        // xformSrc
        p.u32(0).u32(0).u32(0).u32(0).u32(0).u32(0); // colour, usage, no bitmap
        return record(76, p.bytes);
    }
    // STRETCHDIBITS (81) of a whole bitmap onto `dest`.
    EmfBuilder &stretchDib(const QRect &dest, const QByteArray &info, const QByteArray &bits,
                           int srcW, int srcH, quint32 rop = 0x00CC0020)
    {
        const quint32 offBmi = 80, offBits = offBmi + quint32(info.size());
        Le p;
        p.i32(0).i32(0).i32(0).i32(0);       // bounds
        p.i32(dest.x()).i32(dest.y());       // Dest
        p.i32(0).i32(0).i32(srcW).i32(srcH); // Src, cSrc
        p.u32(offBmi).u32(quint32(info.size())).u32(offBits).u32(quint32(bits.size()));
        p.u32(0).u32(rop);                      // DIB_RGB_COLORS
        p.i32(dest.width()).i32(dest.height()); // cDest
        p.raw(info).raw(bits);
        return record(81, p.bytes);
    }

    // The reference device's size in pixels and in millimetres (by default 4 pixels a
    // millimetre on both axes).
    EmfBuilder &referenceDevice(const QSize &pixels, const QSize &millimetres)
    {
        m_devicePixels = pixels;
        m_deviceMillimetres = millimetres;
        return *this;
    }

    QByteArray finish() const
    {
        const QSize mm(m_frame.width() / 100, m_frame.height() / 100);
        Le h;
        h.u32(1).u32(88);
        h.i32(0).i32(0).i32(mm.width() * m_ppm).i32(mm.height() * m_ppm); // bounds
        h.i32(m_frame.left()).i32(m_frame.top());
        h.i32(m_frame.left() + m_frame.width()).i32(m_frame.top() + m_frame.height());
        h.u32(0x464D4520).u32(0x10000);
        const quint32 total = quint32(88 + m_records.size() + 20);
        h.u32(total).u32(quint32(m_count + 2)).u16(64).u16(0);
        h.u32(0).u32(0).u32(0);
        if (m_devicePixels.isEmpty())
            h.i32(1000 * m_ppm).i32(1000 * m_ppm).i32(1000).i32(1000); // device, millimetres
        else
            h.i32(m_devicePixels.width())
                .i32(m_devicePixels.height())
                .i32(m_deviceMillimetres.width())
                .i32(m_deviceMillimetres.height());
        Le eof;
        eof.u32(14).u32(20).u32(0).u32(0).u32(20);
        return h.bytes + m_records + eof.bytes;
    }

private:
    QRect m_frame;
    int m_ppm;
    QSize m_devicePixels, m_deviceMillimetres;
    QByteArray m_records;
    int m_count = 0;
};

// A Windows metafile, placeable when `inch` > 0.
class WmfBuilder
{
public:
    WmfBuilder(const QRect &box, int inch) : m_box(box), m_inch(inch) {}

    WmfBuilder &record(quint16 function, std::initializer_list<qint16> params)
    {
        Le p;
        for (qint16 v : params)
            p.i16(v);
        return record(function, p.bytes);
    }
    WmfBuilder &record(quint16 function, const QByteArray &params)
    {
        QByteArray p = params;
        if (p.size() % 2) p.append('\0');
        Le r;
        r.u32(quint32(3 + p.size() / 2)).u16(function).raw(p);
        m_records += r.bytes;
        m_max = std::max<quint32>(m_max, quint32(3 + p.size() / 2));
        return *this;
    }
    WmfBuilder &rawRecord(quint32 claimedWords, quint16 function, const QByteArray &params)
    {
        Le r;
        r.u32(claimedWords).u16(function).raw(params);
        m_records += r.bytes;
        return *this;
    }

    WmfBuilder &setWindowOrg(int x, int y) { return record(0x020B, {qint16(y), qint16(x)}); }
    WmfBuilder &setWindowExt(int x, int y) { return record(0x020C, {qint16(y), qint16(x)}); }
    WmfBuilder &setMapMode(int mode) { return record(0x0103, {qint16(mode)}); }
    WmfBuilder &select(int index) { return record(0x012D, {qint16(index)}); }
    WmfBuilder &deleteObject(int index) { return record(0x01F0, {qint16(index)}); }
    WmfBuilder &saveDC() { return record(0x001E, QByteArray()); }
    WmfBuilder &restoreDC(int n) { return record(0x0127, {qint16(n)}); }
    WmfBuilder &rectangle(const QRect &r)
    {
        return record(0x041B,
                      {qint16(r.bottom()), qint16(r.right()), qint16(r.top()), qint16(r.left())});
    }
    WmfBuilder &ellipse(const QRect &r)
    {
        return record(0x0418,
                      {qint16(r.bottom()), qint16(r.right()), qint16(r.top()), qint16(r.left())});
    }
    WmfBuilder &createBrush(int style, const QColor &c, int hatch = 0)
    {
        Le p;
        p.u16(quint16(style)).color(c).u16(quint16(hatch));
        return record(0x02FC, p.bytes);
    }
    WmfBuilder &createPen(int style, int width, const QColor &c)
    {
        Le p;
        p.u16(quint16(style)).i16(qint16(width)).i16(0).color(c);
        return record(0x02FA, p.bytes);
    }
    WmfBuilder &poly(quint16 function, const QVector<QPoint> &points)
    {
        Le p;
        p.u16(quint16(points.size()));
        for (const QPoint &pt : points)
            p.i16(qint16(pt.x())).i16(qint16(pt.y()));
        return record(function, p.bytes);
    }

    QByteArray finish() const
    {
        Le f;
        if (m_inch > 0) {
            f.u32(0x9AC6CDD7).u16(0);
            f.i16(qint16(m_box.left())).i16(qint16(m_box.top()));
            f.i16(qint16(m_box.left() + m_box.width())).i16(qint16(m_box.top() + m_box.height()));
            f.u16(quint16(m_inch)).u32(0);
            quint16 sum = 0;
            for (int i = 0; i < 20; i += 2)
                sum ^= quint16(quint8(f.bytes[i]) | quint8(f.bytes[i + 1]) << 8);
            f.u16(sum);
        }
        const quint32 words = quint32(9 + m_records.size() / 2 + 3);
        f.u16(1).u16(9).u16(0x0300).u32(words).u16(64).u32(m_max).u16(0);
        f.raw(m_records);
        f.u32(3).u16(0); // EOF
        return f.bytes;
    }

private:
    QRect m_box;
    int m_inch;
    QByteArray m_records;
    quint32 m_max = 3;
};

} // namespace mftest
