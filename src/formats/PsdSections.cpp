#include "PsdSections.h"

#include "PsdLimits.h"

namespace psd {

QString errorText(PsdError error)
{
    switch (error) {
    case PsdError::None:
        return QString();
    case PsdError::NoDevice:
        return QStringLiteral("No device to read from");
    case PsdError::StreamTooLong:
        return QStringLiteral("The stream is too long to be held for reading");
    case PsdError::NotPsd:
        return QStringLiteral("Not a Photoshop document");
    case PsdError::HeaderOutOfRange:
        return QStringLiteral("Channels, size, depth or colour mode out of range");
    case PsdError::UnsupportedKind:
        return QStringLiteral("Unsupported colour mode, depth and channel count");
    case PsdError::PictureTooLarge:
        return QStringLiteral("The picture is too large");
    case PsdError::SectionTruncated:
        return QStringLiteral("A section runs past the end of the file");
    case PsdError::UnsupportedCompression:
        return QStringLiteral("Unsupported compression");
    case PsdError::ImageDataTruncated:
        return QStringLiteral("The image data end early");
    case PsdError::ImageDataCorrupt:
        return QStringLiteral("The run-length data are corrupt");
    case PsdError::OutOfMemory:
        return QStringLiteral("Out of memory");
    case PsdError::ConversionFailed:
        return QStringLiteral("The image data do not make a picture");
    }
    return QString();
}

PsdSectionReader::PsdSectionReader(QIODevice *device) : m_stream(randomAccess(device))
{
    if (!device || !device->isReadable()) refuse(PsdError::NoDevice);
}

// Lengths can only be checked against a known end: a sequential device's bytes are held,
// up to a limit.
QIODevice *PsdSectionReader::randomAccess(QIODevice *device)
{
    if (device && device->isReadable() && !device->isSequential()) return device;
    if (device && device->isReadable()) {
        while (m_held.size() <= kMaxStreamBytes) {
            const QByteArray chunk = device->read(kReadChunk);
            if (chunk.isEmpty()) break;
            m_held += chunk;
        }
        if (m_held.size() > kMaxStreamBytes) {
            m_held.clear();
            refuse(PsdError::StreamTooLong);
        }
    }
    m_buffer.setBuffer(&m_held);
    m_buffer.open(QIODevice::ReadOnly);
    return &m_buffer;
}

bool PsdSectionReader::refuse(PsdError error)
{
    if (m_error == PsdError::None) m_error = error;
    return false;
}

bool PsdSectionReader::readHeader()
{
    if (m_error != PsdError::None) return false;
    char head[PsdHeader::kSize] = {};
    const qint64 got = qint64(qMin<quint64>(sizeof head, m_stream.remaining()));
    if (!m_stream.readBytes(head, got) || PsdHeader::signatureVersion(head, got) == 0)
        return refuse(PsdError::NotPsd);
    // A document cut inside its header.
    if (!PsdHeader::parse(head, got, &m_header)) return refuse(PsdError::SectionTruncated);
    return true;
}

bool PsdSectionReader::readSection(int lengthBytes, PsdSection *section)
{
    const quint64 length = lengthBytes == 8 ? m_stream.readU64() : m_stream.readU32();
    if (!m_stream.ok() || length > m_stream.remaining()) return refuse(PsdError::SectionTruncated);
    section->start = quint64(m_stream.pos());
    section->length = length;
    return m_stream.skip(length) || refuse(PsdError::SectionTruncated);
}

bool PsdSectionReader::locateResources()
{
    if (m_error != PsdError::None) return false;
    return readSection(4, &m_colourMode) && readSection(4, &m_resources);
}

bool PsdSectionReader::locateImageData()
{
    if (m_error != PsdError::None) return false;
    if (!m_stream.seek(m_resources.end())) return refuse(PsdError::SectionTruncated);
    if (!readSection(m_header.isPsb() ? 8 : 4, &m_layers)) return false;
    m_compression = m_stream.readU16();
    if (!m_stream.ok()) return refuse(PsdError::ImageDataTruncated);
    if (m_compression != Raw && m_compression != RunLength)
        return refuse(PsdError::UnsupportedCompression);
    return true;
}

bool PsdSectionReader::readColourModeData(QByteArray *data)
{
    if (m_colourMode.length > kMaxByteArray) return refuse(PsdError::SectionTruncated);
    const qint64 back = m_stream.pos();
    QByteArray bytes(int(m_colourMode.length), Qt::Uninitialized);
    if (!m_stream.seek(m_colourMode.start) || !m_stream.readBytes(bytes.data(), bytes.size()) ||
        !m_stream.seek(quint64(back)))
        return refuse(PsdError::SectionTruncated);
    *data = bytes;
    return true;
}

bool PsdSectionReader::mergedHasAlpha()
{
    // Only look for the count when the section is long enough to hold it.
    const int lengthBytes = m_header.isPsb() ? 8 : 4;
    if (m_layers.length < quint64(lengthBytes) + 2) return false;
    const qint64 back = m_stream.pos();
    bool alpha = false;
    if (m_stream.seek(m_layers.start + quint64(lengthBytes)))
        alpha = (m_stream.readU16() & 0x8000) != 0;
    return m_stream.seek(quint64(back)) && m_stream.ok() && alpha;
}

bool PsdSectionReader::readRowCounts(quint64 rows, std::vector<quint32> *counts)
{
    if (rows > m_stream.remaining() / quint64(rowCountBytes()))
        return refuse(PsdError::ImageDataTruncated);
    counts->resize(rows);
    const bool psb = m_header.isPsb();
    for (quint32 &count : *counts)
        count = psb ? m_stream.readU32() : m_stream.readU16();
    return m_stream.ok() || refuse(PsdError::ImageDataTruncated);
}

bool PsdSectionReader::skipRowCounts(quint64 rows)
{
    if (rows > m_stream.remaining() / quint64(rowCountBytes()))
        return refuse(PsdError::ImageDataTruncated);
    return m_stream.skip(rows * quint64(rowCountBytes())) || refuse(PsdError::ImageDataTruncated);
}

} // namespace psd
