#include "PsdRowReader.h"

#include "PsdConvert.h"
#include "PsdLimits.h"
#include "PsdPackBits.h"
#include "PsdRowConverter.h"
#include "platform/DeviceRead.h"
#include "platform/WorkTeam.h"

#include <QtEndian>

#include <atomic>
#include <new>
#include <vector>

namespace psd {

namespace {

// Pictures smaller than this are expanded on the calling thread alone: starting helpers
// would cost more than they save.
constexpr quint64 kTeamPixels = quint64(1) << 20;

// Samples (of all planes) in one strip of rows: small enough that a strip's data are still
// in cache when its rows are expanded, large enough that reads stay few.
constexpr quint64 kStripSamples = quint64(1) << 18;

// What one member of the team holds: the run-length data of the strip it expands, and a
// row of samples for each plane.
struct Workspace
{
    std::vector<uchar> data;
    std::vector<uchar> samples;
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
        const int planes = RowConverter::planesOf(picture);
        std::vector<uchar> table(size_t(quint64(planes) * rows * entry));
        if (!s.readBytes(reinterpret_cast<char *>(table.data()), qint64(table.size())))
            return result;
        // No writer makes a row longer than this; a longer count is something else.
        const quint64 longestRow = 2 * width + 16;
        const quint64 stripRows =
            qBound<quint64>(1, kStripSamples / (width * quint64(planes)), rows);
        const quint64 strips = (rows + stripRows - 1) / stripRows;
        std::vector<quint32> counts(size_t(quint64(planes) * rows));
        // Where strip i of plane k begins: stripAt[k * (strips + 1) + i]; the plane's end last.
        std::vector<quint64> stripAt(size_t(quint64(planes) * (strips + 1)));
        quint64 at = dataAt;
        for (int k = 0; k < planes; ++k) {
            for (quint64 y = 0; y < rows; ++y) {
                if (y % stripRows == 0)
                    stripAt[size_t(quint64(k) * (strips + 1) + y / stripRows)] = at;
                const size_t i = size_t(quint64(k) * rows + y);
                counts[i] = entry == 4 ? qFromBigEndian<quint32>(table.data() + 4 * i)
                                       : qFromBigEndian<quint16>(table.data() + 2 * i);
                if (counts[i] > longestRow) return result;
                at += counts[i];
            }
            stripAt[size_t(quint64(k) * (strips + 1) + strips)] = at;
            if (at > end) return result;
        }
        table = std::vector<uchar>();
        // The most bytes one strip's rows take in all planes: each member's buffer is made
        // that large once, on this thread, so members never allocate.
        quint64 stripBytes = 0;
        for (quint64 strip = 0; strip < strips; ++strip) {
            quint64 total = 0;
            for (int k = 0; k < planes; ++k) {
                const quint64 *from = &stripAt[size_t(quint64(k) * (strips + 1) + strip)];
                total += from[1] - from[0];
            }
            stripBytes = qMax(stripBytes, total);
        }
        // Its tables are made only for data that passed the checks above.
        const RowConverter converter(picture, qint64(width * rows));

        QImage image = interleavedPicture(picture);
        if (image.isNull()) return result;
        uchar *const bits = image.bits();
        const qsizetype stride = image.bytesPerLine();

        // Each member reads the strips it takes itself, where the device allows reads from
        // several threads; the counts were checked against the document's length, so the
        // reads are not checked again.
        QIODevice *device = s.device();
        const bool shared = platform::readsConcurrently(device) && width * rows >= kTeamPixels;
        platform::WorkTeam team(shared ? platform::WorkTeam::suggestedSize(4) : 1);
        const size_t sampleRow = size_t(width + kUnpackSlack);
        std::vector<Workspace> spaces(size_t(team.size()));
        for (Workspace &w : spaces) {
            w.samples.resize(sampleRow * size_t(planes));
            w.data.resize(size_t(stripBytes) + kUnpackSlack);
        }
        std::atomic<quint64> nextStrip{0};
        std::atomic<bool> failed{false};
        team.run([&](int member) {
            Workspace &w = spaces[size_t(member)];
            const uchar *sampleRows[kMaxPlanesUsed] = {};
            for (int k = 0; k < planes; ++k)
                sampleRows[k] = w.samples.data() + size_t(k) * sampleRow;
            try {
                while (!failed.load(std::memory_order_relaxed)) {
                    const quint64 strip = nextStrip.fetch_add(1, std::memory_order_relaxed);
                    if (strip >= strips) return;
                    size_t rowAt[kMaxPlanesUsed] = {}, total = 0;
                    for (int k = 0; k < planes; ++k) {
                        const quint64 *from = &stripAt[size_t(quint64(k) * (strips + 1) + strip)];
                        rowAt[k] = total;
                        total += size_t(from[1] - from[0]);
                    }
                    for (int k = 0; k < planes; ++k) {
                        const quint64 *from = &stripAt[size_t(quint64(k) * (strips + 1) + strip)];
                        if (!platform::readDeviceAt(
                                device, from[0], reinterpret_cast<char *>(w.data.data()) + rowAt[k],
                                from[1] - from[0]))
                            return failed.store(true, std::memory_order_relaxed);
                    }
                    const quint64 first = strip * stripRows, last = qMin(rows, first + stripRows);
                    for (quint64 y = first; y < last; ++y) {
                        for (int k = 0; k < planes; ++k) {
                            const quint32 count = counts[size_t(quint64(k) * rows + y)];
                            if (!unpackRowPadded(w.data.data() + rowAt[k], count,
                                                 w.samples.data() + size_t(k) * sampleRow, width))
                                return failed.store(true, std::memory_order_relaxed);
                            rowAt[k] += count;
                        }
                        converter.convert(sampleRows, int(width),
                                          reinterpret_cast<QRgb *>(bits + qsizetype(y) * stride));
                    }
                }
            } catch (const std::bad_alloc &) {
                failed.store(true); // the team must not be left by an exception
            }
        });
        if (failed.load()) return result;
        result.picture = image;
        result.planes = planes;
        result.restAt = at;
    } catch (const std::bad_alloc &) {
        result = RunLengthRows();
    }
    return result;
}

} // namespace psd
