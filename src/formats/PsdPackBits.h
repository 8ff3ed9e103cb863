#pragma once

#include <QtGlobal>

namespace psd {

// Where decoded samples go: the planes one after another, each planeBytes long. The
// first `keep` bytes are stored, later ones only counted. With a stride of 1 the planes
// are stored one after another; with a larger stride they are interleaved, plane k's
// sample i landing at out[i * stride + k], so that pixels can be converted in place.
class PlaneSink
{
public:
    PlaneSink(uchar *out, quint64 keep, quint64 limit, quint64 planeBytes = 0, int stride = 1)
        : m_out(out), m_keep(keep), m_limit(limit), m_planeBytes(planeBytes), m_stride(stride)
    {
    }

    // Finished opaque pixels (0xffRRGGBB) straight from the planes, so that no pass of
    // conversion follows: Rgb takes red, green and blue from planes 0-2, Gray takes all
    // three from plane 0. Plane 0 writes whole pixels, the others single bytes. `out` is
    // 32-bit aligned and holds planeBytes pixels; `limit` counts the bytes of every plane.
    enum class Pixels { Rgb, Gray };
    static PlaneSink opaque(uchar *out, Pixels pixels, quint64 planeBytes, quint64 limit)
    {
        PlaneSink sink(out, planeBytes * (pixels == Pixels::Rgb ? 3 : 1), limit, planeBytes, 4);
        sink.m_opaque = true;
        sink.m_gray = pixels == Pixels::Gray;
        return sink;
    }

    // Adds length bytes, copied from copyFrom, or all equal to fill when copyFrom is null.
    // False, and nothing added, when they would take the output past its limit.
    bool append(const uchar *copyFrom, uchar fill, quint64 length);

    quint64 produced() const { return m_produced; }
    bool full() const { return m_produced == m_limit; }

private:
    uchar *m_out;
    quint64 m_keep;
    quint64 m_limit;
    quint64 m_planeBytes;
    int m_stride;
    quint64 m_produced = 0;
    bool m_opaque = false;
    bool m_gray = false;
};

// Expands PackBits data (the run-length scheme of Photoshop documents) fed in pieces into
// a sink. A run that would take the output past the sink's limit stops the decoder with
// overflow(); a full sink stops it too.
class PackBitsDecoder
{
public:
    explicit PackBitsDecoder(PlaneSink &sink) : m_sink(sink) {}

    // Decodes whole runs from in and returns the bytes used; a run that in holds only in
    // part is left for the next call.
    qint64 feed(const uchar *in, qint64 size);

    bool overflow() const { return m_overflow; }

private:
    PlaneSink &m_sink;
    bool m_overflow = false;
};

// Bytes past the end of its input and output that unpackRowPadded may read and write.
constexpr quint64 kUnpackSlack = 16;

// Expands one row that holds whole runs: exactly `size` bytes of input must give exactly
// `rowBytes` bytes of output, with no run reaching past the row. False otherwise, with `out`
// partly written. Both buffers hold kUnpackSlack bytes more than that: runs are moved in
// whole blocks of 16 bytes, so that a short run costs one move rather than a call.
bool unpackRowPadded(const uchar *in, quint64 size, uchar *out, quint64 rowBytes);

} // namespace psd
