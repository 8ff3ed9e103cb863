#include "PsdPackBits.h"

#include <cstring>

namespace psd {

qint64 PackBitsDecoder::feed(const uchar *in, qint64 size)
{
    qint64 used = 0;
    while (used < size && !full() && !m_overflow) {
        const int n = qint8(in[used]);
        if (n == -128) { // a no-op by definition
            ++used;
            continue;
        }
        const quint64 length = n >= 0 ? quint64(n) + 1 : quint64(1 - n);
        const qint64 runBytes = n >= 0 ? qint64(length) + 1 : 2;
        if (used + runBytes > size)
            break;
        if (m_produced + length > m_limit) {
            m_overflow = true;
            break;
        }
        put(n >= 0 ? in + used + 1 : nullptr, in[used + 1], length);
        used += runBytes;
    }
    return used;
}

void PackBitsDecoder::put(const uchar *copyFrom, uchar fill, quint64 length)
{
    if (m_produced < m_keep) {
        const size_t kept = size_t(qMin(length, m_keep - m_produced));
        if (copyFrom)
            std::memcpy(m_out + m_produced, copyFrom, kept);
        else
            std::memset(m_out + m_produced, fill, kept);
    }
    m_produced += length;
}

} // namespace psd
