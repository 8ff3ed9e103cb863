#pragma once

// CIFF heaps (the structure of Canon's CRW files) for tests and seed corpora. Little-endian,
// as the cameras write them.

#include <QByteArray>
#include <QPair>
#include <QVector>
#include <QtEndian>

#include <cstring>

namespace ciff {

inline QByteArray le16(quint16 v)
{
    QByteArray b(2, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

inline QByteArray le32(quint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

enum Tag : quint16 {
    MakeModel = 0x080A,
    TimeStamp = 0x180E,
    ImageInfo = 0x1810,
    JpegFromRaw = 0x2007,
    Thumbnail = 0x2008,
    ImageProps = 0x300A,   // a sub-heap
    CameraObject = 0x2807, // a sub-heap
};

struct Record
{
    quint16 tag;
    QByteArray data;
    qint64 claimedSize = -1;   // the record's size, when not the data's
    qint64 claimedOffset = -1; // its offset in the heap, when not where the data is
};

// A heap: the records' data, the table (a count, then tag, size and offset per record), and
// the table's offset in the last four bytes (or `claimedTable`).
inline QByteArray heap(const QVector<Record> &records, qint64 claimedTable = -1)
{
    QByteArray data, table = le16(quint16(records.size()));
    for (const Record &r : records) {
        const qint64 offset = data.size();
        data += r.data;
        table += le16(r.tag) + le32(quint32(r.claimedSize >= 0 ? r.claimedSize : r.data.size())) +
                 le32(quint32(r.claimedOffset >= 0 ? r.claimedOffset : offset));
    }
    return data + table + le32(quint32(claimedTable >= 0 ? claimedTable : data.size()));
}

// The file: the 26-byte header, then the root heap.
inline QByteArray file(const QByteArray &root)
{
    return QByteArray("II") + le32(26) + QByteArray("HEAPCCDR") + le32(0x00010002) +
           QByteArray(8, '\0') + root;
}

// Width, height, pixel aspect ratio (a float), rotation in degrees, bit depths.
inline QByteArray imageInfo(quint32 width, quint32 height, qint32 rotation)
{
    const float aspect = 1.0f;
    quint32 aspectBits;
    std::memcpy(&aspectBits, &aspect, 4);
    return le32(width) + le32(height) + le32(aspectBits) + le32(quint32(rotation)) + le32(12) +
           le32(24) + le32(1);
}

inline QByteArray makeModel(const QByteArray &make, const QByteArray &model)
{
    return make + '\0' + model + '\0';
}

} // namespace ciff
