#pragma once

#include <QByteArray>
#include <QString>

// The preview of an XMind file: the bytes of its first zip entry whose name contains
// "thumbnail.png" (Thumbnails/thumbnail.png matches). Empty when the file is no zip
// container, has no such entry, or the entry is corrupt or claims more than it can hold.
QByteArray xmindPreview(const QString &path);
