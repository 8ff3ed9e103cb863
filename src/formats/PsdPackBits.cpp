#include "PsdPackBits.h"

#include <algorithm>
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

// Plane 0 of opaque pixels: whole pixels, red (or gray) and alpha 255.
inline void writePixels(quint32 *out, const uchar *copyFrom, uchar fill, quint64 n, bool gray)
{
    const quint32 scale = gray ? 0x010101u : 0x010000u;
    if (copyFrom) {
        for (quint64 i = 0; i < n; ++i)
            out[i] = 0xff000000u | copyFrom[i] * scale;
    } else {
        const quint32 pixel = 0xff000000u | fill * scale;
        std::fill(out, out + n, pixel);
    }
}

// Byte offset of green (plane 1) and blue (plane 2) within a 0xAARRGGBB pixel in memory.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr int kOpaqueOffset[3] = {2, 1, 0};
#else
constexpr int kOpaqueOffset[3] = {1, 2, 3};
#endif

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
        if (m_opaque) {
            if (plane == 0)
                writePixels(reinterpret_cast<quint32 *>(m_out) + index, copyFrom, fill, n, m_gray);
            else
                scatter<4>(m_out + index * 4 + kOpaqueOffset[plane], copyFrom, fill, n, 4);
        } else if (m_stride == 4) {
            scatter<4>(m_out + index * quint64(m_stride) + plane, copyFrom, fill, n, m_stride);
        } else {
            scatter<0>(m_out + index * quint64(m_stride) + plane, copyFrom, fill, n, m_stride);
        }
        if (copyFrom) copyFrom += n;
        at += n;
    }
    m_produced += length;
    return true;
}

bool unpackRowPadded(const uchar *in, quint64 size, uchar *out, quint64 rowBytes)
{
    constexpr quint64 block = kUnpackSlack;
    quint64 used = 0, made = 0;
    while (used < size) {
        const int n = qint8(in[used++]);
        if (n >= 0) {
            const quint64 length = quint64(n) + 1;
            if (length > size - used || length > rowBytes - made) return false;
            // Reads at most used + length + 15 < size + block bytes of the input.
            for (quint64 i = 0; i < length; i += block)
                std::memcpy(out + made + i, in + used + i, block);
            used += length;
            made += length;
        } else if (n != -128) {
            const quint64 length = quint64(1 - n); // n = -128 is a no-op by definition
            if (used == size || length > rowBytes - made) return false;
            uchar fill[block];
            std::memset(fill, in[used++], block);
            for (quint64 i = 0; i < length; i += block)
                std::memcpy(out + made + i, fill, block);
            made += length;
        }
    }
    return made == rowBytes;
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
