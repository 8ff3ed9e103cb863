#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QtGlobal>

namespace platform {

// One metadata item of a picture file, as the viewer's picture model knows them: an
// identifier, a value type (1 BYTE, 2 ASCII, 3 SHORT, 4 LONG, 5 RATIONAL, 7 UNDEFINED,
// 9 SLONG, 10 SRATIONAL) and the value's bytes in little-endian order. Items of the
// embedded thumbnail's directory carry the 0x50xx identifiers (0x5029 its orientation,
// 0x501B its encoded bytes).
struct PropertyItem
{
    quint32 id = 0;
    quint16 type = 0;
    QByteArray value;

    quint32 length() const { return quint32(value.size()); }
};

// The items of the file at `path`, in file order. A file whose metadata cannot be parsed
// (or that has none) yields no items: that is not an error, since most formats carry none.
// Never prints anything.
QVector<PropertyItem> readPropertyItems(const QString &path);

// Replaces or adds the given items in the file's metadata without re-encoding its pixels.
// Only the main picture's orientation (0x0112) and the thumbnail's (0x5029) and the
// pixel dimensions (0xA002, 0xA003) can be written. The file is replaced atomically: a
// failure leaves it as it was. Returns whether the file now carries the items.
bool writePropertyItems(const QString &path, const QVector<PropertyItem> &items);

} // namespace platform
