#include "PsdLayerChannel.h"

#include "PsdConvert.h"
#include "PsdLimits.h"

#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace psd {

namespace {

// Expands one run-length row, keeping only the output bytes skip to skip + take - 1.
void expandRow(const uchar *in, qint64 size, qint64 skip, qint64 take, uchar *out)
{
    qint64 column = 0, i = 0;
    const qint64 end = skip + take;
    while (i < size && column < end) {
        const int n = qint8(in[i++]);
        if (n == -128) continue;
        const qint64 length = n >= 0 ? n + 1 : 1 - n;
        const uchar *literal = n >= 0 ? in + i : nullptr;
        if (n >= 0 ? i + length > size : i >= size) break;
        const uchar fill = in[i];
        i += n >= 0 ? length : 1;
        const qint64 from = std::max(column, skip), to = std::min(column + length, end);
        for (qint64 c = from; c < to; ++c)
            out[c - skip] = literal ? literal[c - column] : fill;
        column += length;
    }
}

// A zlib stream inflated a row at a time from the file, never past the rows asked for.
class ZipRows
{
public:
    ZipRows(PsdStream &stream, quint64 at, quint64 length) : m_s(stream), m_at(at), m_left(length)
    {
        m_ok = inflateInit(&m_z) == Z_OK;
    }
    ~ZipRows() { inflateEnd(&m_z); }
    ZipRows(const ZipRows &) = delete;
    ZipRows &operator=(const ZipRows &) = delete;

    bool next(uchar *row, quint64 bytes)
    {
        m_z.next_out = row;
        m_z.avail_out = uInt(bytes);
        while (m_ok && m_z.avail_out > 0) {
            if (m_z.avail_in == 0) {
                if (m_left == 0 || m_ended) return m_ok = false;
                const qint64 n = qint64(qMin<quint64>(m_left, quint64(kChunk)));
                if (!m_s.seek(m_at) || !m_s.readBytes(reinterpret_cast<char *>(m_in), n))
                    return m_ok = false;
                m_at += quint64(n);
                m_left -= quint64(n);
                m_z.next_in = m_in;
                m_z.avail_in = uInt(n);
            }
            const int r = inflate(&m_z, Z_NO_FLUSH);
            if (r == Z_STREAM_END) {
                m_ended = true;
                if (m_z.avail_out > 0) m_ok = false;
            } else if (r != Z_OK && r != Z_BUF_ERROR) {
                m_ok = false;
            }
        }
        return m_ok;
    }

private:
    static constexpr int kChunk = 64 * 1024;
    PsdStream &m_s;
    quint64 m_at, m_left;
    z_stream m_z{};
    uchar m_in[kChunk];
    bool m_ok = false, m_ended = false;
};

} // namespace

LayerChannelReader::LayerChannelReader(QIODevice *device, int depth, bool psb)
    : m_stream(device), m_bytes(depth >= 8 ? depth / 8 : 1), m_psb(psb)
{
}

bool LayerChannelReader::plan(const LayerChannel &channel, const LayerRect &rect, Plan *plan)
{
    // A refusal of the channel before must not refuse this one.
    m_stream = PsdStream(m_stream.device());
    PsdStream &s = m_stream;
    if (!channel.present || channel.length < 2 || !s.seek(channel.start)) return false;
    plan->rect = rect;
    plan->compression = s.readU16();
    plan->data = channel.start + 2;
    plan->dataLength = channel.length - 2;
    plan->rowCounts.clear();
    const quint64 width = quint64(rect.width()), height = quint64(rect.height());
    const quint64 rowBytes = width * quint64(m_bytes);
    if (!s.ok() || width == 0 || height == 0) return false;
    switch (plan->compression) {
    case Raw:
        return height <= plan->dataLength / rowBytes;
    case Zip:
    case ZipPredicted:
        return plan->dataLength > 0 && rowBytes <= kMaxZipRowBytes &&
               height <= plan->dataLength * kMaxZipExpansion / rowBytes;
    case RunLength:
        break;
    default:
        return false;
    }
    const quint64 countBytes = m_psb ? 4 : 2;
    if (height > plan->dataLength / countBytes) return false;
    const quint64 tableBytes = height * countBytes;
    std::vector<uchar> table(tableBytes);
    if (!s.readBytes(reinterpret_cast<char *>(table.data()), qint64(tableBytes))) return false;
    plan->rowCounts.resize(height);
    // Each two bytes of a row make at most 2 * kMaxPackBitsExpansion bytes: a shorter row
    // cannot fill the layer's width.
    const quint64 perRun = 2 * kMaxPackBitsExpansion;
    const quint64 shortest = (rowBytes + perRun - 1) / perRun * 2;
    quint64 sum = 0;
    for (quint64 y = 0; y < height; ++y) {
        const quint32 count = m_psb ? qFromBigEndian<quint32>(table.data() + 4 * y)
                                    : qFromBigEndian<quint16>(table.data() + 2 * y);
        if (count < shortest) return false;
        sum += count;
        plan->rowCounts[y] = count;
    }
    plan->data += tableBytes;
    plan->dataLength -= tableBytes;
    return sum <= plan->dataLength;
}

void LayerChannelReader::reduce(const uchar *in, qint64 count, Sample kind, uchar *out,
                                int step) const
{
    switch (m_bytes) {
    case 1:
        for (qint64 x = 0; x < count; ++x)
            out[x * step] = in[x];
        return;
    case 2:
        // As the merged picture's: v * 255 / 65535, truncated.
        for (qint64 x = 0; x < count; ++x)
            out[x * step] = uchar(qFromBigEndian<quint16>(in + 2 * x) / 257);
        return;
    default:
        for (qint64 x = 0; x < count; ++x) {
            const float v = floatSample(in + 4 * x);
            out[x * step] = uchar(kind == Sample::Colour ? linearToSrgbByte(v) : coverageByte(v));
        }
        return;
    }
}

bool LayerChannelReader::decode(const Plan &plan, const LayerRect &window, Sample kind, uchar *out,
                                int step, qint64 stride)
{
    m_stream = PsdStream(m_stream.device());
    PsdStream &s = m_stream;
    if (plan.compression == Zip || plan.compression == ZipPredicted)
        return decodeZip(plan, window, kind, out, step, stride);
    const qint64 bytes = m_bytes;
    const qint64 skip = (window.left - plan.rect.left) * bytes, take = window.width() * bytes;
    m_row.resize(size_t(take));
    if (plan.compression == Raw) {
        for (qint64 y = window.top; y < window.bottom; ++y) {
            const quint64 at = plan.data +
                               quint64(y - plan.rect.top) * quint64(plan.rect.width() * bytes) +
                               quint64(skip);
            if (!s.seek(at) || !s.readBytes(reinterpret_cast<char *>(m_row.data()), take))
                return false;
            reduce(m_row.data(), window.width(), kind, out + (y - window.top) * stride, step);
        }
        return true;
    }
    quint64 at = plan.data;
    for (qint64 y = plan.rect.top; y < window.bottom; ++y) {
        const quint32 count = plan.rowCounts[size_t(y - plan.rect.top)];
        if (y >= window.top) {
            if (m_packed.size() < count) m_packed.resize(count);
            if (!s.seek(at) || !s.readBytes(reinterpret_cast<char *>(m_packed.data()), count))
                return false;
            // Samples that a short row leaves out stay as they were before.
            std::fill(m_row.begin(), m_row.end(), uchar(0));
            expandRow(m_packed.data(), count, skip, take, m_row.data());
            reduce(m_row.data(), window.width(), kind, out + (y - window.top) * stride, step);
        }
        at += count;
    }
    return true;
}

bool LayerChannelReader::decodeZip(const Plan &plan, const LayerRect &window, Sample kind,
                                   uchar *out, int step, qint64 stride)
{
    const qint64 width = plan.rect.width(), bytes = m_bytes;
    const quint64 rowBytes = quint64(width * bytes);
    m_row.resize(rowBytes);
    if (bytes == 4) m_shuffled.resize(rowBytes);
    ZipRows rows(m_stream, plan.data, plan.dataLength);
    const qint64 skip = window.left - plan.rect.left;
    const bool predicted = plan.compression == ZipPredicted;
    for (qint64 y = plan.rect.top; y < window.bottom; ++y) {
        if (!rows.next(m_row.data(), rowBytes)) return false;
        if (y < window.top) continue;
        uchar *row = m_row.data();
        if (predicted) {
            // Each sample is stored as its difference from the one on its left.
            if (bytes == 1) {
                for (qint64 x = 1; x < width; ++x)
                    row[x] = uchar(row[x] + row[x - 1]);
            } else if (bytes == 2) {
                quint16 previous = qFromBigEndian<quint16>(row);
                for (qint64 x = 1; x < width; ++x) {
                    previous = quint16(previous + qFromBigEndian<quint16>(row + 2 * x));
                    qToBigEndian(previous, row + 2 * x);
                }
            } else {
                // Bytes of the row differ from the byte before, and the row holds the first
                // bytes of every sample, then the second bytes, and so on.
                for (quint64 i = 1; i < rowBytes; ++i)
                    row[i] = uchar(row[i] + row[i - 1]);
                uchar *plain = m_shuffled.data();
                for (qint64 x = 0; x < width; ++x)
                    for (int b = 0; b < 4; ++b)
                        plain[4 * x + b] = row[b * width + x];
                row = plain;
            }
        }
        reduce(row + skip * bytes, window.width(), kind, out + (y - window.top) * stride, step);
    }
    return true;
}

} // namespace psd
