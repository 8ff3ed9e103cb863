#pragma once

// Writes zip containers byte by byte for tests, so that any field can say what a test
// needs it to say (sizes, names, checksums), whatever the data are.

#include <QByteArray>
#include <QVector>
#include <QtEndian>

#include <zlib.h>

namespace ziptest {

struct Entry
{
    QByteArray name;
    QByteArray data;
    bool deflate = true;
    qint64 claimedSize = -1; // uncompressed size written in the records; -1: the real one
    qint64 claimedCrc = -1;
    bool utf8Name = false;
};

inline void put16(QByteArray &b, quint32 v)
{
    b += char(v & 0xff);
    b += char((v >> 8) & 0xff);
}

inline void put32(QByteArray &b, quint32 v)
{
    put16(b, v & 0xffff);
    put16(b, v >> 16);
}

inline QByteArray rawDeflate(const QByteArray &data)
{
    z_stream z = {};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&z, uLong(data.size()))), 0);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(int(z.total_out));
    deflateEnd(&z);
    return out;
}

inline QByteArray build(const QVector<Entry> &entries)
{
    QByteArray file, directory;
    for (const Entry &e : entries) {
        const QByteArray stored = e.deflate ? rawDeflate(e.data) : e.data;
        const quint32 crc =
            e.claimedCrc >= 0
                ? quint32(e.claimedCrc)
                : quint32(crc32(0, reinterpret_cast<const Bytef *>(e.data.constData()),
                                uInt(e.data.size())));
        const quint32 size = e.claimedSize >= 0 ? quint32(e.claimedSize) : quint32(e.data.size());
        const quint32 offset = quint32(file.size());
        auto common = [&](QByteArray &b) {
            put16(b, 20);                       // version needed
            put16(b, e.utf8Name ? 0x800 : 0);   // flags
            put16(b, e.deflate ? 8 : 0);        // method
            put16(b, 0x6000);                   // 12:00
            put16(b, (44 << 9) | (3 << 5) | 9); // 2024-03-09
            put32(b, crc);
            put32(b, quint32(stored.size()));
            put32(b, size);
            put16(b, quint32(e.name.size()));
            put16(b, 0); // extra
        };
        put32(file, 0x04034b50);
        common(file);
        file += e.name + stored;

        put32(directory, 0x02014b50);
        put16(directory, 20); // made by DOS
        common(directory);
        put16(directory, 0);    // comment
        put16(directory, 0);    // disk
        put16(directory, 0);    // internal attributes
        put32(directory, 0x20); // archive
        put32(directory, offset);
        directory += e.name;
    }
    const quint32 directoryOffset = quint32(file.size());
    file += directory;
    put32(file, 0x06054b50);
    put16(file, 0);
    put16(file, 0);
    put16(file, quint32(entries.size()));
    put16(file, quint32(entries.size()));
    put32(file, quint32(directory.size()));
    put32(file, directoryOffset);
    put16(file, 0);
    return file;
}

} // namespace ziptest
