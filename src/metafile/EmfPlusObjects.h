#pragma once

#include "EmfPlusRecords.h"
#include "MetafileBytes.h"

#include <QBrush>
#include <QByteArray>
#include <QImage>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <QTransform>

#include <array>

// The objects that EMF+ records define once and draw with many times, read from their
// serialized form into Qt's types. Every reader checks each count and offset against the
// bytes of its object; what does not fit leaves the object invalid, and drawing with an
// invalid object draws nothing.
namespace metafile::emfplus {

struct PlusBrush
{
    bool valid = false;
    QBrush brush;          // in world units
    QColor hatchBack;      // hatch brushes: the colour under the pattern
    QPainterPath boundary; // path gradients paint only inside their boundary (world units)
};

struct PlusPen
{
    bool valid = false;
    QPen pen;         // width 0 here; the player sets it from `width` and `unit`
    double width = 0; // in `unit`
    quint8 unit = UnitWorld;
    QTransform transform; // the pen's own shape transform
};

struct PlusRegion
{
    bool valid = false;
    bool infinite = false;
    QPainterPath path; // world units at the time of use
};

struct PlusImage
{
    bool valid = false;
    QImage bitmap;       // a bitmap image
    QByteArray metafile; // or a metafile's bytes (WMF or EMF)
};

// How an image is drawn where its source rectangle reaches past its pixels.
struct PlusImageAttributes
{
    bool valid = false;
    quint32 wrapMode = 0; // 0-3 tile (the flips drawn as plain tiles), 4 clamp
    QColor clampColor;    // what clamping draws outside the image
};

struct PlusFont
{
    bool valid = false;
    double emSize = 0;
    quint8 unit = UnitWorld;
    bool bold = false, italic = false, underline = false, strikeOut = false;
    QString family;
};

struct PlusStringFormat
{
    bool valid = false;
    quint32 flags = 0;
    int alignment = 0;     // 0 near, 1 centre, 2 far
    int lineAlignment = 0; // the same, across lines
};

struct PlusObject
{
    quint8 type = 0; // ObjectType; 0 for an empty slot
    PlusBrush brush;
    PlusPen pen;
    QPainterPath path;
    bool pathValid = false;
    PlusRegion region;
    PlusImage image;
    PlusImageAttributes attributes;
    PlusFont font;
    PlusStringFormat format;
};

// Reads one whole object of `type` (after it was assembled from its records). `budget` is
// the number of bitmap pixels that this playback may still decode.
PlusObject readObject(quint8 type, MetafileBytes data, qint64 *budget);

bool readBrush(MetafileBytes data, PlusBrush &brush, qint64 *budget);
// A path object; `used`, when given, receives the bytes the path took.
bool readPath(MetafileBytes data, QPainterPath &path, quint64 *used = nullptr);

// `count` points at `at` in the layout that a drawing record's `flags` choose: floats,
// 16-bit integers (C) or relative steps (P). Empty when they do not fit; `end` receives the
// offset after the last point.
QPolygonF readPoints(MetafileBytes r, quint64 at, quint32 count, quint16 flags,
                     quint64 *end = nullptr);
// `count` rectangles at `at`, floats or 16-bit integers (C); empty when they do not fit.
QVector<QRectF> readRects(MetafileBytes r, quint64 at, quint32 count, bool compressed);
QRectF rectAt(MetafileBytes r, quint64 at);
QTransform transformAt(MetafileBytes r, quint64 at);
QColor argbAt(MetafileBytes r, quint64 at);

// Pixels per unit on a device of `dpi` pixels per inch; `UnitWorld` and `UnitDisplay` count
// as pixels.
double unitToPixels(quint8 unit, double dpi);

} // namespace metafile::emfplus
