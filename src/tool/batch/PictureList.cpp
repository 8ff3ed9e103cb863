#include "PictureList.h"

#include "formats/ImageFormats.h"
#include "image/ImageDirectory.h"
#include "platform/FileNameBytes.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <sys/stat.h>

namespace {
bool isFolder(const QByteArray &path)
{
    struct stat info = {};
    return ::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

QByteArray joined(const QByteArray &folder, const QString &name)
{
    QByteArray path = folder;
    if (!path.endsWith('/')) path += '/';
    return path + platform::fileNameToBytes(name);
}

void walkFolder(const QByteArray &folder, const QStringList &filters, QList<QByteArray> *out)
{
    const QString folderName = platform::fileNameFromBytes(folder);
    ImageDirectory listing;
    if (!listing.init(folderName, filters)) return;
    QStringList names;
    for (int i = 0; i < listing.count(); ++i)
        names << listing.nameOf(i);
    names.sort();
    for (const QString &name : qAsConst(names))
        *out << joined(folder, name);
    QStringList folders =
        QDir(folderName)
            .entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::Hidden);
    folders.sort();
    for (const QString &name : qAsConst(folders))
        walkFolder(joined(folder, name), filters, out);
}
} // namespace

QList<QByteArray> collectPictures(const QList<QByteArray> &arguments, QIODevice *input)
{
    const QStringList filters = ImageFormats().nameFilters();
    QList<QByteArray> found;
    for (const QByteArray &arg : arguments) {
        if (arg == "-") {
            while (input && !input->atEnd()) {
                QByteArray line = input->readLine();
                if (line.endsWith('\n')) line.chop(1);
                if (!line.isEmpty()) found << line;
            }
        } else if (isFolder(arg)) {
            walkFolder(arg, filters, &found);
        } else {
            found << arg;
        }
    }
    QSet<QByteArray> seen;
    QList<QByteArray> unique;
    for (const QByteArray &path : qAsConst(found)) {
        if (seen.contains(path)) continue;
        seen.insert(path);
        unique << path;
    }
    return unique;
}

bool inShard(const QByteArray &path, int index, int count)
{
    quint64 hash = 14695981039346656037ULL;
    for (const char c : path) {
        hash ^= quint8(c);
        hash *= 1099511628211ULL;
    }
    return int(hash % quint64(count)) == index - 1;
}
