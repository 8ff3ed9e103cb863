#pragma once

// What the editing commands of picsage-image share: opening a picture whole (never at screen size:
// an edit must see every pixel) and the rows of output files.

#include <QMap>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

class ImageWrapper;
struct ImageFormat;

namespace imagetool {

// Opens and loads FILE whole for editing. Null (and the message printed) when it cannot be
// read; `code` is then ExitInput.
QSharedPointer<ImageWrapper> openForEditing(const QString &file);

// The writable format row of `path`'s suffix, or null after a usage message.
const ImageFormat *outputRow(const QString &command, const ImageWrapper &picture,
                             const QString &path);

// "picsage-image: OUT: cannot be written" and ExitOutput.
int outputError(const QString &path, const QString &reason = QString());

// Parses "A,B,C,D" or "AxB" style lists of integers separated by `separator`.
bool parseInts(const QString &text, QChar separator, int count, QVector<int> *out);

} // namespace imagetool
