#include "XMindPreview.h"

#include "ZipContainer.h"

namespace {
// A preview is a small picture; a larger entry is refused before it is read.
constexpr quint64 kMaxPreviewBytes = 64 * 1024 * 1024;
} // namespace

QByteArray xmindPreview(const QString &path)
{
    ZipContainer container;
    if (container.open(path) != ZipOk) return QByteArray();
    for (int i = 0;; ++i) {
        ZipEntry entry;
        if (container.entry(i, &entry) != ZipOk) return QByteArray();
        if (!entry.name.contains(QLatin1String("thumbnail.png"))) continue;

        quint64 size = 0;
        if (!container.plausibleSize(i, &size) || size > kMaxPreviewBytes) return QByteArray();
        QByteArray bytes(int(size), Qt::Uninitialized);
        if (container.extract(i, bytes.data(), size) != ZipOk) return QByteArray();
        return bytes;
    }
}
