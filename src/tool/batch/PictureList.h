#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QList>

// The pictures of a run as the bytes of their paths: files as given, folders walked
// recursively through the library's folder listing (the format table's suffixes; links to
// folders are not followed), "-" read as one path a line from `input`. Each path once, in
// the order found.
QList<QByteArray> collectPictures(const QList<QByteArray> &arguments, QIODevice *input);

// The 1-based shard `index` of `count` a path belongs to decides by FNV-1a of its bytes:
// the same on every machine, whatever order the list comes in.
bool inShard(const QByteArray &path, int index, int count);
