#pragma once

#include "PsdHeader.h"
#include "PsdStream.h"

#include <QBuffer>
#include <QByteArray>
#include <QString>

#include <vector>

namespace psd {

// Why a document was refused, for the decoder, the preview and the plug-in's handler.
enum class PsdError {
    None,
    NoDevice,               // no device, or one not open for reading
    StreamTooLong,          // a sequential device delivered more than is held in memory
    NotPsd,                 // no "8BPS" signature with version 1 or 2
    HeaderOutOfRange,       // channels, sides, depth or colour mode outside the format
    UnsupportedKind,        // a colour mode, depth and channel count no picture is made for
    PictureTooLarge,        // the picture would need more memory than a picture may take
    SectionTruncated,       // a section's length runs past the end of the file
    UnsupportedCompression, // image data neither raw nor run-length
    ImageDataTruncated,     // row table or image data end before the planes are complete
    ImageDataCorrupt,       // run-length data that expand past the planes
    OutOfMemory,            // the pixels could not be allocated
    ConversionFailed,       // the planes did not make a picture
};

// A sentence for each reason, for errorString().
QString errorText(PsdError error);

enum Compression : quint16 { Raw = 0, RunLength = 1 };

// Where a section lies: its first byte (after its length field) and its length.
struct PsdSection
{
    quint64 start = 0;
    quint64 length = 0;
    quint64 end() const { return start + length; }
};

// Finds the sections of a document by their length fields, each checked against the
// file's real length, and leaves the stream where the caller wants to read next:
//
//   PsdSectionReader r(device);
//   r.readHeader()         signature and version: the one test of what a document is
//   r.locateResources()    colour-mode data and image resources
//   r.locateImageData()    layer and mask section, compression word; the stream is then at
//                          the row table (run-length) or the planes (raw)
//
// Every step returns false and records error() on a refusal. A sequential device is read
// into memory first, at most kMaxStreamBytes of it.
class PsdSectionReader
{
public:
    explicit PsdSectionReader(QIODevice *device);
    PsdSectionReader(const PsdSectionReader &) = delete;
    PsdSectionReader &operator=(const PsdSectionReader &) = delete;

    bool readHeader();
    bool locateResources();
    bool locateImageData();

    const PsdHeader &header() const { return m_header; }
    const PsdSection &colourModeData() const { return m_colourMode; }
    const PsdSection &resources() const { return m_resources; }
    const PsdSection &layers() const { return m_layers; }
    quint16 compression() const { return m_compression; }
    // Bytes of one entry of the run-length row table: 2 in a PSD, 4 in a PSB.
    int rowCountBytes() const { return m_header.isPsb() ? 4 : 2; }

    // The colour-mode data (the palette of an indexed document).
    bool readColourModeData(QByteArray *data);
    // A negative layer count in the layer section says that the merged picture carries an
    // alpha channel. Leaves the stream where it was.
    bool mergedHasAlpha();
    // The run-length row table's first `rows` entries; skipRowCounts passes over them.
    bool readRowCounts(quint64 rows, std::vector<quint32> *counts);
    bool skipRowCounts(quint64 rows);

    PsdStream &stream() { return m_stream; }
    PsdError error() const { return m_error; }
    // Records a refusal found by the caller; the first reason stays.
    bool refuse(PsdError error);

private:
    QIODevice *randomAccess(QIODevice *device);
    bool readSection(int lengthBytes, PsdSection *section);

    QByteArray m_held; // a sequential device's bytes
    QBuffer m_buffer;
    PsdStream m_stream;
    PsdHeader m_header;
    PsdSection m_colourMode;
    PsdSection m_resources;
    PsdSection m_layers;
    quint16 m_compression = 0;
    PsdError m_error = PsdError::None;
};

} // namespace psd
