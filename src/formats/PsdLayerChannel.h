#pragma once

#include "PsdStream.h"

#include <QtGlobal>

#include <vector>

namespace psd {

// A rectangle of document coordinates as layer records store them: rows top to bottom - 1,
// columns left to right - 1. 64-bit, so that any pair of stored 32-bit edges is safe.
struct LayerRect
{
    qint64 top = 0, left = 0, bottom = 0, right = 0;

    qint64 width() const { return right > left ? right - left : 0; }
    qint64 height() const { return bottom > top ? bottom - top : 0; }
    bool isEmpty() const { return width() == 0 || height() == 0; }
    LayerRect intersected(const LayerRect &o) const
    {
        return {qMax(top, o.top), qMax(left, o.left), qMin(bottom, o.bottom), qMin(right, o.right)};
    }
    LayerRect united(const LayerRect &o) const
    {
        if (isEmpty()) return o;
        if (o.isEmpty()) return *this;
        return {qMin(top, o.top), qMin(left, o.left), qMax(bottom, o.bottom), qMax(right, o.right)};
    }
};

// Where one channel of a layer lies in the file: its compression word, then its data.
struct LayerChannel
{
    quint64 start = 0;
    quint64 length = 0;   // compression word included
    bool present = false; // the record lists it and the file holds its claimed bytes
};

// Reads the channels of layers: raw, run-length, zip and zip with prediction, of 8, 16 or
// 32 bits a sample, each reduced to bytes as the merged picture's samples are. A channel is
// planned first (its sizes checked against its data, nothing large allocated), then the part
// of it that the canvas shows is decoded, a row at a time.
class LayerChannelReader
{
public:
    enum Compression : quint16 { Raw = 0, RunLength = 1, Zip = 2, ZipPredicted = 3 };

    struct Plan
    {
        LayerRect rect;
        quint16 compression = Raw;
        quint64 data = 0; // first byte after the compression word (and the row table)
        quint64 dataLength = 0;
        std::vector<quint32> rowCounts; // run-length rows
    };

    // What a sample holds: colour is light (32-bit samples are encoded for the screen),
    // coverage is transparency or a mask (32-bit samples are only clamped).
    enum class Sample { Colour, Coverage };

    LayerChannelReader(QIODevice *device, int depth, bool psb);

    bool plan(const LayerChannel &channel, const LayerRect &rect, Plan *plan);
    // Decodes the part `window` of a planned channel into out, step bytes between samples
    // and stride bytes between rows. False when the data end early or are corrupt.
    bool decode(const Plan &plan, const LayerRect &window, Sample kind, uchar *out, int step,
                qint64 stride);

private:
    bool decodeZip(const Plan &plan, const LayerRect &window, Sample kind, uchar *out, int step,
                   qint64 stride);
    void reduce(const uchar *in, qint64 count, Sample kind, uchar *out, int step) const;

    PsdStream m_stream;
    int m_bytes; // per sample
    bool m_psb;
    std::vector<uchar> m_row, m_packed, m_shuffled;
};

} // namespace psd
