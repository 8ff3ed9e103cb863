#include "ModelFiles.h"

#include "AnalysisMethod.h"
#include "app/ModuleDirectory.h"

#include <QDir>

QString modelRoot()
{
    static const QString root =
        QDir::toNativeSeparators(moduleDirectory() + QStringLiteral("/model"));
    return root;
}

QString modelDirectory(int method)
{
    return modelRoot() + QDir::separator() + methodName(method);
}

QStringList pickModelFiles(const QFileInfoList &candidates)
{
    QStringList files{QString(), QString()};
    for (const QFileInfo &info : candidates) {
        const QString suffix = info.suffix().toLower();
        if (suffix == QLatin1String("txt"))
            files[1] = info.absoluteFilePath();
        else if (suffix == QLatin1String("tflite"))
            files[0] = info.absoluteFilePath();
        if (!files[0].isEmpty() && !files[1].isEmpty()) break;
    }
    return files;
}
