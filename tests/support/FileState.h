#pragma once

// What a write left on disk: a file's checksum, and temporary files left in a folder.

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

inline QByteArray fileSha256(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result().toHex();
}

// The hidden staging files ("." + name + ".picsage-XXXXXX" and the like) in `folder`.
inline QStringList stagingLeftovers(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral(".*picsage-*")}, QDir::Files | QDir::Hidden);
}
