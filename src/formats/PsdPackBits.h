#pragma once

#include <QtGlobal>

namespace psd {

// Expands PackBits data (the run-length scheme of Photoshop documents) fed in pieces.
// The first `keep` output bytes are written to the caller's buffer, later ones are only
// counted; a run that would take the output past `limit` stops the decoder with
// overflow(), and reaching the limit stops it with full().
class PackBitsDecoder
{
public:
    PackBitsDecoder(uchar *out, quint64 keep, quint64 limit)
        : m_out(out), m_keep(keep), m_limit(limit)
    {
    }

    // Decodes whole runs from in and returns the bytes used; a run that in holds only in
    // part is left for the next call.
    qint64 feed(const uchar *in, qint64 size);

    quint64 produced() const { return m_produced; }
    bool full() const { return m_produced == m_limit; }
    bool overflow() const { return m_overflow; }

private:
    void put(const uchar *copyFrom, uchar fill, quint64 length);

    uchar *m_out;
    quint64 m_keep;
    quint64 m_limit;
    quint64 m_produced = 0;
    bool m_overflow = false;
};

} // namespace psd
