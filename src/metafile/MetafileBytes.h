#pragma once

#include <QtGlobal>

#include <cstring>

namespace metafile {

// A bounded little-endian view of one metafile record (or of the whole file). Reads outside
// the view answer zero, so a short record can never read past its end; callers still check
// `has` before they trust a count or an offset taken from the record.
class MetafileBytes
{
public:
    MetafileBytes() = default;
    MetafileBytes(const uchar *data, quint32 size) : m_data(data), m_size(size) {}

    quint32 size() const { return m_size; }
    const uchar *data() const { return m_data; }

    // True when `length` bytes from `offset` lie inside the view (no overflow).
    bool has(quint64 offset, quint64 length) const
    {
        return offset <= m_size && length <= m_size - offset;
    }

    MetafileBytes sub(quint64 offset, quint64 length) const
    {
        if (!has(offset, length)) return {};
        return MetafileBytes(m_data + offset, quint32(length));
    }

    quint8 u8(quint64 offset) const { return has(offset, 1) ? m_data[offset] : 0; }
    quint16 u16(quint64 offset) const { return quint16(read<2>(offset)); }
    qint16 i16(quint64 offset) const { return qint16(u16(offset)); }
    quint32 u32(quint64 offset) const { return quint32(read<4>(offset)); }
    qint32 i32(quint64 offset) const { return qint32(u32(offset)); }
    float f32(quint64 offset) const
    {
        const quint32 bits = u32(offset);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

private:
    template <int N> quint64 read(quint64 offset) const
    {
        if (!has(offset, N)) return 0;
        quint64 value = 0;
        for (int i = N - 1; i >= 0; --i)
            value = (value << 8) | m_data[offset + quint64(i)];
        return value;
    }

    const uchar *m_data = nullptr;
    quint32 m_size = 0;
};

} // namespace metafile
