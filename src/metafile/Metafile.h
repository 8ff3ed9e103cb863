#pragma once

#include "EmfPlayer.h"
#include "WmfPlayer.h"

#include <QByteArray>
#include <QImage>
#include <QRectF>

class QPainter;

namespace metafile {

// A Windows metafile (WMF, with or without its placeable header) or an enhanced metafile
// (EMF), drawn by our own record player onto any QPainter. The file is held whole; records
// are read only while playing, each checked against the bytes that remain.
class Metafile
{
public:
    enum class Kind { None, Wmf, Emf };

    // Reads and checks a file; false (and a null picture) for anything else.
    bool load(const QString &path);
    bool loadData(const QByteArray &data);

    bool isNull() const { return m_kind == Kind::None; }
    Kind kind() const { return m_kind; }

    // The picture's frame in pixels of its reference device (96 dpi for a WMF).
    QRectF bounds() const { return m_bounds; }
    // The frame's size on paper.
    QSizeF millimetres() const { return m_millimetres; }
    // The frame's size on a screen of `dotsPerInch`, truncated to whole pixels: at least
    // 1 x 1, and scaled down to fit 16384 pixels a side when the file claims more. The
    // reference device's resolution plays no part: a picture recorded against a printer
    // or a device with oblong pixels has the size and shape of its frame on paper.
    QSize size(double dotsPerInch = 96) const;

    // Plays the records so that the frame fills `target`, in the painter's coordinates;
    // nothing is drawn outside the target or the painter's clip.
    void render(QPainter *painter, const QRectF &target) const;

    // The picture at `size` on a transparent background (null for a null picture).
    QImage toImage(const QSize &size) const;

private:
    QByteArray m_data;
    Kind m_kind = Kind::None;
    EmfHeader m_emf;
    WmfHeader m_wmf;
    QRectF m_bounds;
    QSizeF m_millimetres;
};

} // namespace metafile
