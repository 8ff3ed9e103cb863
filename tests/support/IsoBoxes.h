#pragma once

// ISO base media boxes (the structure of CR3 files) for tests and seed corpora.

#include <QByteArray>
#include <QtEndian>

namespace isotest {

inline QByteArray u32(quint32 v)
{
    QByteArray b(4, '\0');
    qToBigEndian(v, b.data());
    return b;
}

inline QByteArray u64(quint64 v)
{
    QByteArray b(8, '\0');
    qToBigEndian(v, b.data());
    return b;
}

// A box whose 32-bit size is right, or `claimed` when given.
inline QByteArray box(const char *type, const QByteArray &payload, qint64 claimed = -1)
{
    return u32(quint32(claimed >= 0 ? claimed : 8 + payload.size())) + QByteArray(type, 4) +
           payload;
}

// A box with a 64-bit size (the 32-bit one is 1): right, or `claimed` when given.
inline QByteArray largeBox(const char *type, const QByteArray &payload, qint64 claimed = -1)
{
    return u32(1) + QByteArray(type, 4) +
           u64(quint64(claimed >= 0 ? claimed : 16 + payload.size())) + payload;
}

inline QByteArray fileType()
{
    return box("ftyp", QByteArray("crx ") + u32(1) + QByteArray("crx isom"));
}

// Canon's metadata box, which sits in 'moov' and holds boxes after its identifier.
inline QByteArray canonMetadata(const QByteArray &children)
{
    return box("uuid", QByteArray::fromHex("85c0b687820f11e08111f4ce462b6a48") + children);
}

} // namespace isotest
