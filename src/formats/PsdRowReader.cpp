#include "PsdRowReader.h"

#include "PsdConvert.h"
#include "PsdLimits.h"
#include "PsdPackBits.h"
#include "PsdRowConverter.h"

#include <QtEndian>

#include <cstring>
#include <new>
#include <vector>

namespace psd {

namespace {

// One plane's run-length data, read a piece at a time from where that plane begins.
class PlaneInput
{
public:
    PlaneInput(quint64 at, quint64 end, size_t capacity) : m_at(at), m_end(end), m_data(capacity) {}

    // The next `size` bytes, read when not yet held; null when they cannot be read.
    const uchar *take(PsdStream &s, quint64 size)
    {
        if (m_held - m_used < size) {
            std::memmove(m_data.data(), m_data.data() + m_used, m_held - m_used);
            m_held -= m_used;
            m_used = 0;
            const quint64 n = qMin<quint64>(m_data.size() - m_held, m_end - m_at);
            if (n < size - m_held || !s.seek(m_at) ||
                !s.readBytes(reinterpret_cast<char *>(m_data.data()) + m_held, qint64(n)))
                return nullptr;
            m_at += n;
            m_held += n;
        }
        const uchar *bytes = m_data.data() + m_used;
        m_used += size;
        return bytes;
    }

private:
    quint64 m_at, m_end;
    std::vector<uchar> m_data;
    size_t m_held = 0, m_used = 0;
};

} // namespace

RunLengthRows readRunLengthRows(PsdStream &s, const PsdHeader &document, const PsdHeader &picture)
{
    RunLengthRows result;
    if (!RowConverter::handles(picture) || !s.ok()) return result;
    const quint64 rows = document.height, width = document.width;
    const quint64 entry = document.isPsb() ? 4 : 2;
    const quint64 countsAt = quint64(s.pos());
    const quint64 dataAt = countsAt + entry * document.channels * rows;
    const quint64 end = quint64(s.device()->size());
    if (dataAt > end) return result;

    try {
        RowConverter converter(picture, qint64(width * rows));
        const int planes = converter.planes();
        std::vector<uchar> table(size_t(planes * rows * entry));
        if (!s.readBytes(reinterpret_cast<char *>(table.data()), qint64(table.size())))
            return result;
        // No writer makes a row longer than this; a longer count is something else.
        const quint64 longestRow = 2 * width + 16;
        std::vector<quint32> counts(size_t(planes * rows));
        std::vector<PlaneInput> inputs;
        quint64 at = dataAt;
        for (int k = 0; k < planes; ++k) {
            const quint64 planeAt = at;
            for (quint64 y = 0; y < rows; ++y) {
                const size_t i = size_t(k * rows + y);
                counts[i] = entry == 4 ? qFromBigEndian<quint32>(table.data() + 4 * i)
                                       : qFromBigEndian<quint16>(table.data() + 2 * i);
                if (counts[i] > longestRow) return result;
                at += counts[i];
            }
            if (at > end) return result;
            inputs.emplace_back(planeAt, at, size_t(qMax<quint64>(kReadChunk, longestRow)));
        }

        QImage image = interleavedPicture(picture);
        if (image.isNull()) return result;
        std::vector<uchar> samples(size_t(planes * width));
        const uchar *sampleRows[kMaxPlanesUsed] = {};
        for (int k = 0; k < planes; ++k)
            sampleRows[k] = samples.data() + k * width;
        for (quint64 y = 0; y < rows; ++y) {
            for (int k = 0; k < planes; ++k) {
                const quint32 count = counts[size_t(k * rows + y)];
                const uchar *packed = inputs[size_t(k)].take(s, count);
                if (!packed || !unpackRow(packed, count, samples.data() + k * width, width))
                    return result;
            }
            converter.convert(sampleRows, int(width),
                              reinterpret_cast<QRgb *>(image.scanLine(int(y))));
        }
        result.picture = image;
        result.planes = planes;
        result.restAt = at;
    } catch (const std::bad_alloc &) {
        result = RunLengthRows();
    }
    return result;
}

} // namespace psd
