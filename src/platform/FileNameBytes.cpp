#include "FileNameBytes.h"

#include <QTextCodec>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {
constexpr ushort EscapeBase = 0xDC00;

bool hasEscape(const QString &name)
{
    for (int i = 0; i < name.size(); ++i)
        if (escapedByteAt(name, i) >= 0) return true;
    return false;
}

// The length of the well-formed UTF-8 sequence at `at`, or 0 when there is none.
int utf8SequenceLength(const QByteArray &bytes, int at)
{
    const auto byte = [&](int i) { return uchar(bytes.at(i)); };
    const uchar lead = byte(at);
    int length = 0;
    uchar low = 0x80, high = 0xBF; // the range of the second byte
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;  // no overlong forms
        if (lead == 0xED) high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F; // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (at + length > bytes.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (int i = 2; i < length; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    return length;
}

bool localeIsUtf8()
{
    const QTextCodec *codec = QTextCodec::codecForLocale();
    return codec && codec->mibEnum() == 106;
}
} // namespace

QChar escapedByte(uchar byte)
{
    return QChar(ushort(EscapeBase + byte));
}

int escapedByteAt(const QString &text, int i)
{
    const ushort u = text.at(i).unicode();
    if (u < EscapeBase || u > EscapeBase + 0xFF) return -1;
    return i > 0 && text.at(i - 1).isHighSurrogate() ? -1 : u - EscapeBase;
}

QString fileNameFromBytes(const QByteArray &bytes)
{
    const QString plain = QFile::decodeName(bytes);
    if (!hasEscape(plain) && QFile::encodeName(plain) == bytes) return plain;

    QString name;
    name.reserve(bytes.size());
    const bool utf8 = localeIsUtf8();
    for (int i = 0; i < bytes.size();) {
        const int length = utf8 ? utf8SequenceLength(bytes, i) : (uchar(bytes.at(i)) < 0x80);
        if (length == 0) {
            name += escapedByte(uchar(bytes.at(i)));
            ++i;
        } else {
            // In another locale only ASCII is kept as text: its bytes encode as themselves.
            name += utf8 ? QString::fromUtf8(bytes.constData() + i, length)
                         : QString(QLatin1Char(bytes.at(i)));
            i += length;
        }
    }
    return name;
}

QByteArray fileNameToBytes(const QString &name)
{
    if (!hasEscape(name)) return QFile::encodeName(name);
    QByteArray bytes;
    int runStart = 0;
    for (int i = 0; i <= name.size(); ++i) {
        const int escaped = i < name.size() ? escapedByteAt(name, i) : -1;
        if (i < name.size() && escaped < 0) continue;
        bytes += QFile::encodeName(name.mid(runStart, i - runStart));
        if (escaped >= 0) bytes += char(escaped);
        runStart = i + 1;
    }
    return bytes;
}

bool fileExists(const QString &name)
{
    if (name.isEmpty()) return false;
    struct stat status;
    return ::stat(fileNameToBytes(name).constData(), &status) == 0;
}

bool openForReading(QFile &file, const QString &name)
{
    if (name.isEmpty()) return false;
    const int fd = ::open(fileNameToBytes(name).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

} // namespace platform
