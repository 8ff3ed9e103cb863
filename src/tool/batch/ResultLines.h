#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>

// The JSON lines of a batch run:
//   {"path":...,"method":...,"milliseconds":N,"confidence":...,"msg":...,"ret":...}
// after the first three keys, byte for byte the record the one-picture tool stores.

// A path's bytes as a JSON string literal. Bytes that are not UTF-8 are written as
// \udc80-\udcff, which Python's surrogateescape reads back into the same bytes.
QByteArray jsonPathLiteral(const QByteArray &path);

// One line, ending in a newline. `record` is AnalysisResult::toJson's text.
QByteArray resultLine(const QByteArray &path, const QString &method, qint64 milliseconds,
                      const QByteArray &record);

// The record of a picture that has no record of the tool's own (a missing file, a worker
// lost): the tool's defaults with `ret` and `msg`.
QByteArray failureRecord(int ret, const QString &msg);

// The path literals that the lines of `text` name (see jsonPathLiteral); lines that do not
// start with a path are ignored.
QSet<QByteArray> pathsInLines(const QByteArray &text);

// The `ret` a line reports; 0 when it has none.
int retOfLine(const QByteArray &line);
