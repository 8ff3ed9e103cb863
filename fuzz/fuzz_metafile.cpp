// Feeds arbitrary bytes to the metafile player: a refusal or a bounded rendering, never a
// crash, a hang or an allocation beyond the limits.
#include "metafile/Metafile.h"

#include <QGuiApplication>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Text needs the font database, which needs the application object.
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    metafile::Metafile picture;
    if (!picture.loadData(bytes)) return 0;
    picture.toImage(picture.size().boundedTo(QSize(256, 256)));
    return 0;
}
