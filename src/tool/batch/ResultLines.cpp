#include "ResultLines.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {
const QByteArray PathKey = QByteArrayLiteral("{\"path\":");

// The length of the well-formed UTF-8 sequence starting at `i`, or 0.
int utf8Length(const QByteArray &bytes, int i)
{
    const uchar lead = uchar(bytes.at(i));
    int length = 0;
    uint min = 0;
    uint value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, min = 0x80, value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, min = 0x800, value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, min = 0x10000, value = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > bytes.size()) return 0;
    for (int k = 1; k < length; ++k) {
        const uchar c = uchar(bytes.at(i + k));
        if ((c & 0xC0) != 0x80) return 0;
        value = value << 6 | (c & 0x3F);
    }
    const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
    return value < min || value > 0x10FFFF || surrogate ? 0 : length;
}
} // namespace

QByteArray jsonPathLiteral(const QByteArray &path)
{
    QByteArray out("\"");
    for (int i = 0; i < path.size();) {
        const uchar c = uchar(path.at(i));
        if (c >= 0x80) {
            const int length = utf8Length(path, i);
            if (length > 0) {
                out += path.mid(i, length);
                i += length;
            } else {
                out += "\\udc" + QByteArray::number(c, 16);
                ++i;
            }
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            out += "\\u00" + QByteArray::number(c, 16).rightJustified(2, '0');
        } else {
            out += char(c);
        }
        ++i;
    }
    return out + '"';
}

QByteArray resultLine(const QByteArray &path, const QString &method, qint64 milliseconds,
                      const QByteArray &record)
{
    // The record is an object: its opening brace gives way to the three keys before it.
    return PathKey + jsonPathLiteral(path) + ",\"method\":\"" + method.toUtf8() +
           "\",\"milliseconds\":" + QByteArray::number(milliseconds) + ',' + record.mid(1) + '\n';
}

QByteArray failureRecord(int ret, const QString &msg)
{
    const QJsonObject object{
        {QStringLiteral("ret"), ret},
        {QStringLiteral("confidence"), -9.0},
        {QStringLiteral("msg"), msg},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QSet<QByteArray> pathsInLines(const QByteArray &text)
{
    QSet<QByteArray> paths;
    for (const QByteArray &line : text.split('\n')) {
        if (!line.startsWith(PathKey) || line.size() <= PathKey.size() ||
            line.at(PathKey.size()) != '"')
            continue;
        for (int i = PathKey.size() + 1; i < line.size(); ++i) {
            if (line.at(i) == '\\') {
                ++i;
            } else if (line.at(i) == '"') {
                paths.insert(line.mid(PathKey.size(), i + 1 - PathKey.size()));
                break;
            }
        }
    }
    return paths;
}

int retOfLine(const QByteArray &line)
{
    const int at = line.lastIndexOf("\"ret\":");
    return at < 0 ? 0 : line.mid(at + 6).split('}').value(0).toInt();
}
