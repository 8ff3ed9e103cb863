#include "PsdPackBits.h"

#include <cstring>

namespace psd {

namespace {

// Stores n bytes stride apart; Stride known at compile time for the common 32-bit pixel.
template <int Stride>
inline void scatter(uchar *out, const uchar *copyFrom, uchar fill, quint64 n, int stride)
{
    const quint64 step = Stride > 0 ? quint64(Stride) : quint64(stride);
    if (copyFrom) {
        for (quint64 i = 0; i < n; ++i)
            out[i * step] = copyFrom[i];
    } else {
        for (quint64 i = 0; i < n; ++i)
            out[i * step] = fill;
    }
}

} // namespace

bool PlaneSink::append(const uchar *copyFrom, uchar fill, quint64 length)
{
    if (length > m_limit - m_produced) return false;
    quint64 at = m_produced;
    const quint64 end = qMin(m_produced + length, m_keep);
    while (at < end) {
        if (m_stride == 1) {
            const size_t n = size_t(end - at);
            if (copyFrom)
                std::memcpy(m_out + at, copyFrom, n);
            else
                std::memset(m_out + at, fill, n);
            break;
        }
        // Interleaved: a run may cross from one plane into the next.
        const quint64 plane = at / m_planeBytes, index = at % m_planeBytes;
        const quint64 n = qMin(end - at, m_planeBytes - index);
        uchar *out = m_out + index * quint64(m_stride) + plane;
        if (m_stride == 4)
            scatter<4>(out, copyFrom, fill, n, m_stride);
        else
            scatter<0>(out, copyFrom, fill, n, m_stride);
        if (copyFrom) copyFrom += n;
        at += n;
    }
    m_produced += length;
    return true;
}

qint64 PackBitsDecoder::feed(const uchar *in, qint64 size)
{
    qint64 used = 0;
    while (used < size && !m_sink.full() && !m_overflow) {
        const int n = qint8(in[used]);
        if (n == -128) { // a no-op by definition
            ++used;
            continue;
        }
        const quint64 length = n >= 0 ? quint64(n) + 1 : quint64(1 - n);
        const qint64 runBytes = n >= 0 ? qint64(length) + 1 : 2;
        if (used + runBytes > size) break;
        if (!m_sink.append(n >= 0 ? in + used + 1 : nullptr, in[used + 1], length)) {
            m_overflow = true;
            break;
        }
        used += runBytes;
    }
    return used;
}

} // namespace psd
