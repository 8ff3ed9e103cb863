#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;
class QImageReader;

// Which reader opens a picture. Content comes first: our readers' strong signatures, then
// Qt's guess from the content. A weak guess (icon, cursor, TGA, WBMP) yields to the reader of
// the file's suffix when that reader claims the content too; our header-only formats come
// next. When nothing claims the content, or the content's reader cannot read the header,
// the suffix's reader is tried. Every open path asks here instead of letting QImageReader
// guess on its own.
namespace platform::pictureReaders {

// QImageReader's name of the reader for the picture on `device` (its position is kept),
// whose file name ends in `suffix` ("" for none); empty when no reader claims it.
QByteArray choose(QIODevice *device, const QByteArray &suffix);

// Makes `reader` (whose device or file name is set) use the chosen reader, and no other.
// False when no reader claims the picture.
bool prepare(QImageReader &reader, const QString &suffix);

// The format table's name (a suffix) for a reader's name: "bmp" for "picsage-bmp".
QByteArray formatName(const QByteArray &readerName);

// Whether some reader reads files with `suffix` (lower case).
bool readsSuffix(const QByteArray &suffix);

// Why the picture at `path` does not open. `claimed` tells whether some reader claims its
// content; `format` is that reader's format or, when none does, the suffix's; `reason` is the
// claiming reader's explanation ("its data cannot be decoded" when it gives none).
struct Refusal
{
    bool claimed = false;
    QByteArray format;
    QString reason;
};
Refusal diagnose(const QString &path);

} // namespace platform::pictureReaders
