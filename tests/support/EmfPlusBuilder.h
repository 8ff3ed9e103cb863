#pragma once

// EMF+ records written byte by byte and carried in the comment records of an enhanced
// metafile, so that tests can state exactly which records a picture holds.

#include "MetafileBuilder.h"

#include <QPointF>
#include <QRectF>
#include <QString>

namespace mftest {

class EmfPlusBuilder
{
public:
    enum : quint16 {
        Header = 0x4001,
        EndOfFile = 0x4002,
        GetDC = 0x4004,
        Object = 0x4008,
        Clear = 0x4009,
        FillRects = 0x400A,
        DrawRects = 0x400B,
        FillPolygon = 0x400C,
        DrawLines = 0x400D,
        FillEllipse = 0x400E,
        DrawEllipse = 0x400F,
        FillPie = 0x4010,
        DrawArc = 0x4012,
        FillRegion = 0x4013,
        FillPath = 0x4014,
        DrawPath = 0x4015,
        FillClosedCurve = 0x4016,
        DrawBeziers = 0x4019,
        DrawImage = 0x401A,
        DrawImagePoints = 0x401B,
        DrawString = 0x401C,
        SetAntiAliasMode = 0x401E,
        Save = 0x4025,
        Restore = 0x4026,
        BeginContainer = 0x4027,
        BeginContainerNoParams = 0x4028,
        EndContainer = 0x4029,
        SetWorldTransform = 0x402A,
        MultiplyWorldTransform = 0x402C,
        TranslateWorldTransform = 0x402D,
        ScaleWorldTransform = 0x402E,
        RotateWorldTransform = 0x402F,
        SetPageTransform = 0x4030,
        ResetClip = 0x4031,
        SetClipRect = 0x4032,
        SetClipPath = 0x4033,
        SetClipRegion = 0x4034,
        DrawDriverString = 0x4036,
    };
    static constexpr quint32 Version = 0xDBC01002;

    EmfPlusBuilder &record(quint16 type, quint16 flags, const QByteArray &data)
    {
        QByteArray d = data;
        while (d.size() % 4)
            d.append('\0');
        Le r;
        r.u16(type).u16(flags).u32(quint32(12 + d.size())).u32(quint32(d.size())).raw(d);
        m_records += r.bytes;
        return *this;
    }
    // A record whose sizes we choose, whatever its real length.
    EmfPlusBuilder &rawRecord(quint16 type, quint16 flags, quint32 size, quint32 dataSize,
                              const QByteArray &data)
    {
        Le r;
        r.u16(type).u16(flags).u32(size).u32(dataSize).raw(data);
        m_records += r.bytes;
        return *this;
    }
    EmfPlusBuilder &header(bool dual, quint32 dpi = 96)
    {
        Le p;
        p.u32(Version).u32(1).u32(dpi).u32(dpi);
        return record(Header, dual ? 1 : 0, p.bytes);
    }
    EmfPlusBuilder &floats(quint16 type, quint16 flags, std::initializer_list<float> values)
    {
        Le p;
        for (float v : values)
            p.f32(v);
        return record(type, flags, p.bytes);
    }
    EmfPlusBuilder &object(quint8 id, quint8 type, const QByteArray &data)
    {
        return record(Object, quint16(id | (type << 8)), data);
    }

    // Objects: the bytes of a brush, pen, path, region, font or image.
    static QByteArray solidBrush(const QColor &c)
    {
        Le p;
        p.u32(Version).u32(0).u32(c.rgba());
        return p.bytes;
    }
    static QByteArray hatchBrush(quint32 style, const QColor &fore, const QColor &back)
    {
        Le p;
        p.u32(Version).u32(1).u32(style).u32(fore.rgba()).u32(back.rgba());
        return p.bytes;
    }
    static QByteArray linearBrush(const QRectF &r, const QColor &from, const QColor &to)
    {
        Le p;
        p.u32(Version).u32(4).u32(0).i32(0);
        p.f32(float(r.x())).f32(float(r.y())).f32(float(r.width())).f32(float(r.height()));
        p.u32(from.rgba()).u32(to.rgba()).u32(from.rgba()).u32(to.rgba());
        return p.bytes;
    }
    // A pen of `width` world units; `dashes` (in widths) make it dashed.
    static QByteArray pen(float width, const QColor &c, const QVector<float> &dashes = {},
                          quint32 unit = 0)
    {
        Le p;
        p.u32(Version).u32(0).u32(dashes.isEmpty() ? 0 : 0x100).u32(unit).f32(width);
        if (!dashes.isEmpty()) {
            p.u32(quint32(dashes.size()));
            for (float d : dashes)
                p.f32(d);
        }
        p.raw(solidBrush(c));
        return p.bytes;
    }
    // A path of float points; `types` one byte a point (0 start, 1 line, 3 Bézier,
    // 0x80 closes).
    static QByteArray path(const QVector<QPointF> &points, const QByteArray &types)
    {
        Le p;
        p.u32(Version).u32(quint32(points.size())).u32(0);
        for (const QPointF &pt : points)
            p.f32(float(pt.x())).f32(float(pt.y()));
        p.raw(types);
        while (p.bytes.size() % 4)
            p.u8(0);
        return p.bytes;
    }
    // A region of one rectangle, or two combined by `combine` (1 and, 2 union, 4 exclude).
    static QByteArray region(const QRectF &a, quint32 combine = 0, const QRectF &b = {})
    {
        Le p;
        p.u32(Version).u32(combine ? 2 : 0);
        if (combine) p.u32(combine);
        for (const QRectF &r : combine ? QVector<QRectF>{a, b} : QVector<QRectF>{a})
            p.u32(0x10000000)
                .f32(float(r.x()))
                .f32(float(r.y()))
                .f32(float(r.width()))
                .f32(float(r.height()));
        return p.bytes;
    }
    static QByteArray font(float emSize, const QString &family, quint32 unit = 2)
    {
        Le p;
        p.u32(Version).f32(emSize).u32(unit).u32(0).u32(0).u32(quint32(family.size()));
        for (const QChar c : family)
            p.u16(c.unicode());
        return p.bytes;
    }
    // A 32-bit ARGB bitmap image, rows top-down.
    static QByteArray bitmap(const QVector<QVector<QColor>> &rows)
    {
        const int h = rows.size(), w = rows.value(0).size();
        Le p;
        p.u32(Version).u32(1).i32(w).i32(h).i32(w * 4).u32(0x0026200A).u32(0);
        for (const auto &row : rows)
            for (const QColor &c : row)
                p.u32(c.rgba());
        return p.bytes;
    }
    static QByteArray metafileImage(const QByteArray &emf)
    {
        Le p;
        p.u32(Version).u32(2).u32(3).u32(quint32(emf.size())).raw(emf);
        return p.bytes;
    }
    static QByteArray rect(const QRectF &r)
    {
        Le p;
        p.f32(float(r.x())).f32(float(r.y())).f32(float(r.width())).f32(float(r.height()));
        return p.bytes;
    }

    // Drawing records.
    EmfPlusBuilder &fillRect(const QRectF &r, quint32 brush, bool color)
    {
        Le p;
        p.u32(brush).u32(1).raw(rect(r));
        return record(FillRects, color ? 0x8000 : 0, p.bytes);
    }
    EmfPlusBuilder &fillRectColor(const QRectF &r, const QColor &c)
    {
        return fillRect(r, c.rgba(), true);
    }

    // Moves the records written so far into one comment record of `emf`.
    void flushInto(EmfBuilder &emf)
    {
        Le p;
        p.u32(quint32(4 + m_records.size())).u32(0x2B464D45).raw(m_records);
        emf.record(70, p.bytes);
        m_records.clear();
    }

private:
    QByteArray m_records;
};

} // namespace mftest
