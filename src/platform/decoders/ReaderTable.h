#pragma once

#include <QByteArray>

class QIODevice;
class QImageIOHandler;

namespace platform::decoders {

// One of our own readers, as QImageReader knows it.
struct ReaderRow
{
    // QImageReader's name for it: "picsage-bmp". Qt consults its dynamic plug-ins (qtga,
    // qico, ...) before the library's static ones, so ours go by names of their own.
    const char *key;
    // The format rows' suffixes it reads, separated by spaces: "bmp dib".
    const char *suffixes;
    // Peeks (never consumes) whether the content is the reader's.
    bool (*canRead)(QIODevice *device);
    QImageIOHandler *(*create)();
    // A signature that decides by itself; other formats are only tried when no signature
    // claims the content.
    bool strong;
};

// Every reader of ours, strong signatures first.
const ReaderRow *readerRows(int *count);
// The row of a QImageReader name ("picsage-bmp") or of a suffix ("bmp"); null for none.
const ReaderRow *readerForKey(const QByteArray &key);
const ReaderRow *readerForSuffix(const QByteArray &suffix);

} // namespace platform::decoders
