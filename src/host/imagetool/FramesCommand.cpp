#include "EditSupport.h"
#include "ImageTool.h"

#include "image/ImageWrapper.h"

#include <QDir>
#include <QImage>
#include <QImageWriter>
#include <QSaveFile>

namespace imagetool {

namespace {

bool writeWhole(const QString &path, const QByteArray &bytes, QString *reason)
{
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
        *reason = out.errorString();
        return false;
    }
    return true;
}

bool writePng(const QString &path, const QImage &image, QString *reason)
{
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        *reason = out.errorString();
        return false;
    }
    QImageWriter writer(&out, "png");
    if (!writer.write(image.convertToFormat(QImage::Format_ARGB32))) {
        *reason = writer.errorString();
        out.cancelWriting();
        return false;
    }
    if (!out.commit()) {
        *reason = out.errorString();
        return false;
    }
    return true;
}

} // namespace

int runFrames(const QStringList &args)
{
    const QString name = QStringLiteral("frames");
    EditArgs line;
    const int bad = parseEditArgs(name, args, {}, {QStringLiteral("-o")}, &line);
    if (bad >= 0) return bad;
    const QString file = line.file, folder = line.values.value(QStringLiteral("-o"));
    if (folder.isEmpty()) return usageError(name, QStringLiteral("no -o DIR given"));

    QString reason;
    const QSharedPointer<ImageWrapper> picture = openPicture(file, &reason);
    if (!picture) {
        reportError(file, reason);
        return ExitInput;
    }
    const QDir dir(folder);
    if (!QDir().mkpath(folder)) {
        reportError(folder, QStringLiteral("the folder cannot be made"));
        return ExitOutput;
    }

    // Frames in playback order: each is composed from the one before it.
    QStringList entries;
    const int count = picture->frameCount();
    for (int i = 0; i < count; ++i) {
        const QImage frame = picture->imageAt(i, 0, 0);
        if (frame.isNull()) {
            reportError(file, QStringLiteral("frame %1 cannot be composed").arg(i));
            return ExitInput;
        }
        const QString path =
            dir.filePath(QStringLiteral("frame-%1.png").arg(i, 4, 10, QLatin1Char('0')));
        if (!writePng(path, frame, &reason)) {
            reportError(path, reason);
            return ExitOutput;
        }
        entries << QStringLiteral("{\"index\":%1,\"delayMs\":%2}").arg(i).arg(picture->delay(i));
    }
    const QString list = dir.filePath(QStringLiteral("frames.json"));
    if (!writeWhole(list, (QLatin1Char('[') + entries.join(QStringLiteral(", ")) + "]\n").toUtf8(),
                    &reason)) {
        reportError(list, reason);
        return ExitOutput;
    }
    return ExitOk;
}

} // namespace imagetool
