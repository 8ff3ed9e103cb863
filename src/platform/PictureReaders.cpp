#include "platform/PictureReaders.h"

#include "platform/FrameDecoder.h"
#include "platform/decoders/DecoderLimits.h"
#include "platform/decoders/ReaderTable.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

namespace platform::pictureReaders {

namespace {

using decoders::ReaderRow;

// Qt's guesses that a few header bytes make, which a file of another format can match.
bool weakGuess(const QByteArray &format)
{
    return format == "ico" || format == "cur" || format == "tga" || format == "wbmp";
}

// Runs `probe` on the device and puts it back where it stood.
template <class Probe> auto peekWith(QIODevice *device, Probe probe)
{
    const qint64 at = device->pos();
    const auto result = probe();
    if (!device->isSequential()) device->seek(at);
    return result;
}

// Whether the reader `name` claims the content (ours by its signature, Qt's by its handler).
bool claims(QIODevice *device, const QByteArray &name)
{
    if (const ReaderRow *row = decoders::readerForKey(name)) return row->canRead(device);
    return peekWith(device, [&] {
        QImageReader reader(device, name);
        reader.setAutoDetectImageFormat(false);
        return reader.canRead();
    });
}

// Whether the reader `name` claims the content and can read its header.
bool readsHeader(QIODevice *device, const QByteArray &name)
{
    return peekWith(device, [&] {
        QImageReader reader(device, name);
        reader.setAutoDetectImageFormat(false);
        if (!reader.canRead()) return false;
        return !reader.supportsOption(QImageIOHandler::Size) || reader.size().isValid();
    });
}

// Our reader or Qt's for files with `suffix`; empty for none. Where both read the format
// (our TIFF reader takes only the pages Qt's gets wrong), content ours declines goes to Qt's.
QByteArray suffixReader(const QByteArray &suffix, QIODevice *device = nullptr)
{
    if (suffix.isEmpty()) return {};
    const ReaderRow *row = decoders::readerForSuffix(suffix);
    if (row && (!device || row->canRead(device))) return row->key;
    if (QImageReader::supportedImageFormats().contains(suffix)) return suffix;
    return row ? QByteArray(row->key) : QByteArray();
}

// The reader that the content names, before the header is tried; empty when none claims it.
QByteArray contentReader(QIODevice *device, const QByteArray &bySuffix)
{
    int count = 0;
    const ReaderRow *rows = decoders::readerRows(&count);
    for (int i = 0; i < count; ++i)
        if (rows[i].strong && rows[i].canRead(device)) return rows[i].key;
    QByteArray guess = peekWith(device, [&] { return QImageReader::imageFormat(device); });
    // A format we read ourselves goes to our reader when ours agrees, else stays with Qt's.
    if (const ReaderRow *row = decoders::readerForSuffix(guess))
        if (row->canRead(device)) guess = row->key;
    if (!guess.isEmpty()) {
        const bool weak = weakGuess(guess) ||
                          (decoders::readerForKey(guess) && !decoders::readerForKey(guess)->strong);
        if (weak && !bySuffix.isEmpty() && bySuffix != guess && claims(device, bySuffix))
            return bySuffix;
        return guess;
    }
    for (int i = 0; i < count; ++i)
        if (!rows[i].strong && rows[i].canRead(device)) return rows[i].key;
    return {};
}

} // namespace

QByteArray choose(QIODevice *device, const QByteArray &suffix)
{
    if (!device || !device->isOpen()) return {};
    const QByteArray bySuffix = suffixReader(suffix.toLower(), device);
    const QByteArray byContent = contentReader(device, bySuffix);
    if (!byContent.isEmpty() && readsHeader(device, byContent)) return byContent;
    if (!bySuffix.isEmpty() && bySuffix != byContent && readsHeader(device, bySuffix))
        return bySuffix;
    // The content's reader, though it fails: its refusal says what went wrong.
    return byContent;
}

bool prepare(QImageReader &reader, const QString &suffix)
{
    QIODevice *device = reader.device();
    if (!device || (!device->isOpen() && !device->open(QIODevice::ReadOnly))) return false;
    const QByteArray name = choose(device, suffix.toLower().toLatin1());
    if (name.isEmpty()) return false;
    reader.setFormat(name);
    reader.setDecideFormatFromContent(false);
    reader.setAutoDetectImageFormat(false);
    return true;
}

QByteArray formatName(const QByteArray &readerName)
{
    if (const ReaderRow *row = decoders::readerForKey(readerName))
        return QByteArray(row->suffixes).split(' ').value(0);
    return readerName;
}

bool readsSuffix(const QByteArray &suffix)
{
    return !suffixReader(suffix).isEmpty();
}

Refusal diagnose(const QString &path)
{
    Refusal refusal;
    const QByteArray suffix = QFileInfo(path).suffix().toLower().toLatin1();
    refusal.format = suffix;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        refusal.reason = QStringLiteral("it cannot be read");
        return refusal;
    }
    const QByteArray name = choose(&file, suffix);
    if (name.isEmpty()) return refusal;
    refusal.claimed = true;
    refusal.format = formatName(name);
    QImageReader reader(&file, name);
    reader.setAutoDetectImageFormat(false);
    const QSize size = reader.canRead() ? reader.size() : QSize();
    // A size that cannot be opened is said before any decode spends its memory.
    if (size.isValid() && !decoders::fitsLimits(size)) {
        refusal.reason = QStringLiteral("it is larger than can be opened");
        return refusal;
    }
    if (size.isValid() && !FrameDecoder::dataCanHold(refusal.format, size, file.size())) {
        refusal.reason = QStringLiteral("its header claims more data than the file holds");
        return refusal;
    }
    QImage image;
    if (size.isValid()) reader.read(&image);
    refusal.reason = reader.text(QStringLiteral("Damage"));
    if (refusal.reason.isEmpty()) refusal.reason = QStringLiteral("its data cannot be decoded");
    return refusal;
}

} // namespace platform::pictureReaders
