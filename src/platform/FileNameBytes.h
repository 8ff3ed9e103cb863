#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace platform {

// On Linux a file name is a string of bytes, not text. These functions carry such a name
// through QString without losing a byte: bytes that decode in the locale's encoding become
// their characters; any other byte travels as the lone code point U+DC00 + byte, which
// valid UTF-16 text never holds. fileNameToBytes turns those code points back into their
// bytes, so a name with a byte such as 0xFF survives the trip exactly.
//
// A command line that quotes every argument cannot hold a double quote inside one: such a
// quote travels as escapedByte('"') too.

// U+DC00 + byte.
QChar escapedByte(uchar byte);
// The byte that the code unit at `i` of `text` stands for, or -1 when it is text (a low
// surrogate that completes a pair is text).
int escapedByteAt(const QString &text, int i);

QString fileNameFromBytes(const QByteArray &bytes);
QByteArray fileNameToBytes(const QString &name);

// Whether something exists at the name (symbolic links followed), as QFileInfo::exists
// answers, but for the exact bytes of the name.
bool fileExists(const QString &name);

// Opens the named file for reading, by the exact bytes of its name. The opened `file` has
// no file name of its own (it was opened from a descriptor).
bool openForReading(QFile &file, const QString &name);

} // namespace platform
