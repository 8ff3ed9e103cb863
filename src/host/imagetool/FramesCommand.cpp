#include "Arguments.h"
#include "EditSupport.h"
#include "ImageTool.h"
#include "WholePicture.h"

#include "image/ImageWrapper.h"

#include <QDir>
#include <QImage>
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

} // namespace

int runFrames(const QStringList &args)
{
    const QString name = QStringLiteral("frames");
    Arguments line(name, {Arguments::output(QStringLiteral("a folder"), QStringLiteral("DIR"))},
                   {QStringLiteral("FILE")});
    const int bad = line.read(args);
    if (bad >= 0) return bad;
    const QString file = line.operand(), folder = line.value(QStringLiteral("-o"));
    if (folder.isEmpty()) return usageError(name, QStringLiteral("-o needs a folder"));

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
