#include "ImageTool.h"

#include "formats/ImageFormats.h"
#include "image/ImageDirectory.h"
#include "image/ImageWrapper.h"

#include <QFileInfo>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>

#include <cstdio>

namespace imagetool {

namespace {
std::FILE *s_messages = nullptr;
} // namespace

std::FILE *messageStream()
{
    return s_messages ? s_messages : stderr;
}

void setMessageStream(std::FILE *stream)
{
    s_messages = stream;
}

void reportError(const QString &subject, const QString &reason)
{
    const QByteArray line =
        (QStringLiteral("picsage-image: ") + subject + QStringLiteral(": ") + reason + '\n')
            .toLocal8Bit();
    std::fwrite(line.constData(), 1, size_t(line.size()), messageStream());
    std::fflush(messageStream());
}

int usageError(const QString &command, const QString &message)
{
    const QString help = command.isEmpty() ? QStringLiteral("picsage-image --help")
                                           : QStringLiteral("picsage-image %1 --help").arg(command);
    const QByteArray line =
        QStringLiteral("picsage-image: %1\nTry '%2'.\n").arg(message, help).toLocal8Bit();
    std::fwrite(line.constData(), 1, size_t(line.size()), messageStream());
    std::fflush(messageStream());
    return ExitUsage;
}

QString commandHelp(const Command &command)
{
    return QStringLiteral("Usage: picsage-image %1 %2\n\n%3")
        .arg(QString::fromLatin1(command.name), QString::fromLatin1(command.synopsis),
             QString::fromLatin1(command.help));
}

bool isHelp(const QStringList &args)
{
    return args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"));
}

QSharedPointer<ImageWrapper> openPicture(const QString &path, QString *reason, RawFacts *raw,
                                         const QSize &decodeBox)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        *reason = QStringLiteral("no such file");
        return {};
    }
    if (info.isDir()) {
        *reason = QStringLiteral("is a folder");
        return {};
    }
    // The folder lists no links: the file is opened where it really is.
    const QFileInfo real(info.canonicalFilePath());
    QSharedPointer<ImageDirectory> folder(new ImageDirectory);
    if (!folder->init(real.absolutePath(), {QStringLiteral("*")}) ||
        folder->indexOf(real.fileName()) < 0) {
        *reason = QStringLiteral("cannot be listed in its folder");
        return {};
    }
    QSharedPointer<ImageWrapper> picture = folder->createImage(real.fileName(), 0, folder);
    if (!picture) {
        *reason = QStringLiteral("cannot be opened for reading");
        return {};
    }
    picture->setDecodeBox(decodeBox);
    picture->load();
    if (picture->status() != ImageStatusReady || picture->frameCount() < 1) {
        // A raw file whose reader knows the picture but holds no preview that decodes.
        const RawFacts facts = rawFacts(real.filePath());
        *reason = facts.size.isValid() ? QStringLiteral("no usable preview")
                                       : ImageFormats::refusalText(real.filePath());
        if (raw) *raw = facts;
        return {};
    }
    return picture;
}

RawFacts rawFacts(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    RawFacts facts;
    if (!ImageFormats::isRawFormat(ImageFormats().formatForSuffix(suffix)->id)) return facts;
    QImageReader reader(path, suffix.toLatin1());
    facts.size = reader.size();
    const QString make = reader.text(QStringLiteral("Make")).trimmed();
    const QString model = reader.text(QStringLiteral("Model")).trimmed();
    // Most cameras repeat the maker's name (or its first word) in the model's.
    const QString brand = make.section(QLatin1Char(' '), 0, 0);
    facts.camera = !brand.isEmpty() && model.startsWith(brand, Qt::CaseInsensitive)
                       ? model
                       : QStringList{make, model}.join(QLatin1Char(' ')).trimmed();
    bool ok = false;
    const int orientation = reader.text(QStringLiteral("Orientation")).toInt(&ok);
    facts.orientation = ok && orientation >= 1 && orientation <= 8 ? orientation : 1;
    return facts;
}

QString jsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    // ["..."] -> "..."
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

} // namespace imagetool
