#pragma once

#include "EmfPlusObjects.h"
#include "MetafileBytes.h"

#include <QPainterPath>
#include <QTransform>

#include <array>
#include <vector>

class QPainter;

namespace metafile {

class MetafileCanvas;

namespace emfplus {

// The EMF+ records that an enhanced metafile carries in its comment records, drawn as GDI+
// draws them onto the painter of the GDI player's canvas, through the same frame-to-target
// mapping. When the first record after the file's header is an EMF+ header, the file is an
// EMF+ file: GDI+ then draws only the EMF+ records, and of the GDI records only those that
// follow a GetDC record up to the next EMF+ record.
class EmfPlusPlayer
{
public:
    // `fileSize` bounds the objects assembled from several records; `nesting` counts the
    // metafiles this one is drawn inside.
    EmfPlusPlayer(MetafileCanvas &canvas, quint32 fileSize, int nesting);

    // When `record` (an EMF record of `type`) is an EMF+ comment, plays its EMF+ records
    // and answers true. `first`: the record follows the file's header directly.
    bool take(quint32 type, MetafileBytes record, bool first);
    // Whether GDI records met now are skipped.
    bool skipsGdi() const { return m_plusFile && !m_getDC; }

private:
    struct State
    {
        QTransform world;
        quint8 pageUnit = UnitDisplay;
        double pageScale = 1;
        QTransform containerToDevice; // what enclosing containers do to their contents
        bool clipped = false;
        QPainterPath clip; // device units
        bool containerClipped = false;
        QPainterPath containerClip;
        bool antialias = false;
        bool sourceCopy = false;
    };
    struct Saved
    {
        quint32 index;
        State state;
    };

    void play(quint16 type, quint16 flags, MetafileBytes data);
    void object(quint16 flags, MetafileBytes data);
    void drawing(quint16 type, quint16 flags, MetafileBytes data);
    void state(quint16 type, quint16 flags, MetafileBytes data);

    double pageFactor() const;
    QTransform worldToDevice() const;
    QTransform worldToOutput() const;
    void setClip(const QPainterPath &device, int mode);
    void save(quint32 index, bool container);
    void restore(quint32 index);

    // Drawing with objects or colours of the table.
    bool brushFor(quint16 flags, quint32 field, PlusBrush &brush) const;
    bool penFor(quint32 id, QPen &pen) const;
    const PlusObject *objectAt(quint32 id, quint8 type) const;
    // `clip`, when not null, a rectangle in world units outside which nothing is filled.
    void fill(const QPainterPath &world, const PlusBrush &brush, bool text = false,
              const QRectF &clip = QRectF());
    void stroke(const QPainterPath &world, quint32 penId);
    // Sets the painter up for drawing in world units; false when nothing can be drawn.
    bool preparePainter(const QRectF &worldBounds);
    void text(const QString &text, const PlusFont &font, const QRectF &layout,
              const PlusStringFormat &format, const PlusBrush &brush);
    void driverString(quint16 flags, MetafileBytes data);
    PlusImageAttributes attributesAt(quint32 id) const;
    void image(const PlusImage &image, const PlusImageAttributes &attributes, const QRectF &source,
               const QTransform &sourceToWorld);
    void drawMetafile(const QByteArray &data);

    QPainter *m_painter;
    QTransform m_deviceToOutput;
    QPainterPath m_outerClip;  // output coordinates
    QPainterPath m_outputClip; // the outer clip and the state's clip together
    bool m_outputClipDirty = true;
    QRectF m_frame; // device units
    quint32 m_fileSize;
    int m_nesting;
    double m_dpiX = 96, m_dpiY = 96;
    bool m_plusFile = false;
    bool m_getDC = false;
    bool m_ended = false;
    State m_state;
    std::vector<Saved> m_saved;
    std::array<PlusObject, ObjectSlots> m_objects;
    qint64 m_bitmapBudget;
    // An object that comes in several records.
    QByteArray m_pending;
    quint32 m_pendingTotal = 0;
    quint16 m_pendingFlags = 0;
};

} // namespace emfplus
} // namespace metafile
