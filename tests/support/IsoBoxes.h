#pragma once

// ISO base media boxes (the structure of CR3 files) for tests and seed corpora.

#include <QByteArray>
#include <QSize>
#include <QtEndian>

namespace isotest {

inline QByteArray u32(quint32 v)
{
    QByteArray b(4, '\0');
    qToBigEndian(v, b.data());
    return b;
}

inline QByteArray u16(quint16 v)
{
    QByteArray b(2, '\0');
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

// Canon's preview box at the top level: the identifier, 8 bytes, then its children.
inline QByteArray canonPreviewBox(const QByteArray &children)
{
    return box("uuid", QByteArray::fromHex("eaf42b5e1c984b88b9fbb7dc406e4d16") + u64(1) + children);
}

// The thumbnail box of Canon's metadata box: version, size, the stream's length (or
// `claimed`), two more fields, then the JPEG stream.
inline QByteArray thumbnailBox(const QByteArray &jpeg, QSize size, qint64 claimed = -1)
{
    return box("THMB", u32(0) + u16(quint16(size.width())) + u16(quint16(size.height())) +
                           u32(quint32(claimed >= 0 ? claimed : jpeg.size())) + u16(1) + u16(0) +
                           jpeg);
}

// The preview box: the same fields in another order.
inline QByteArray previewBox(const QByteArray &jpeg, QSize size, qint64 claimed = -1)
{
    return box("PRVW", u32(0) + u16(1) + u16(quint16(size.width())) + u16(quint16(size.height())) +
                           u16(1) + u32(quint32(claimed >= 0 ? claimed : jpeg.size())) + jpeg);
}

// A CR3 file as Canon's cameras lay it out: 'ftyp'; 'moov' with Canon's metadata box (IFD0
// and the EXIF IFD as TIFF structures, the thumbnail) and a first track whose one sample is
// the full-size JPEG; the preview box; 'mdat' with the full-size JPEG. Parts left empty are
// left out.
struct Cr3
{
    QByteArray ifd0, exif;         // TIFF structures ('CMT1', 'CMT2')
    QByteArray thumbnail, preview; // whole boxes (thumbnailBox, previewBox)
    QByteArray full;               // the JPEG stream in 'mdat'
    qint64 fullOffsetShift = 0;    // added to the sample's offset in 'co64'
    QByteArray afterMovie;         // boxes between 'moov' and the preview box

    QByteArray build() const
    {
        auto layout = [&](quint64 sampleOffset) {
            QByteArray metadata;
            if (!ifd0.isEmpty()) metadata += box("CMT1", ifd0);
            if (!exif.isEmpty()) metadata += box("CMT2", exif);
            metadata += thumbnail;
            const QByteArray tables = box("stsz", u32(0) + u32(quint32(full.size())) + u32(1)) +
                                      box("co64", u32(0) + u32(1) + u64(sampleOffset));
            const QByteArray track = box("trak", box("mdia", box("minf", box("stbl", tables))));
            QByteArray out = fileType() + box("moov", canonMetadata(metadata) + track) + afterMovie;
            if (!preview.isEmpty()) out += canonPreviewBox(preview);
            return out;
        };
        // The sample's offset is where 'mdat' ends up, after everything before it.
        const qint64 mdat = layout(0).size();
        return layout(quint64(mdat + 8 + fullOffsetShift)) + box("mdat", full);
    }
};

} // namespace isotest
