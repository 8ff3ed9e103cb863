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

// Samples (of all planes) in one band of rows: small enough that a band's data are still in
// cache when its rows are expanded, large enough that the team meets seldom.
constexpr quint64 kBandSamples = quint64(1) << 18;

// The run-length data of a band of rows, every plane's rows one after another, with where
// each row begins.
struct Band
{
    quint64 first = 0, end = 0; // rows [first, end)
    std::vector<uchar> data;
    std::vector<size_t> rowAt; // plane k, row first + j at rowAt[k * (end - first) + j]
};

// Reads the bands one after another from where each plane's data begin; only the calling
// thread reads, so the device is never shared.
class BandReader
{
public:
    BandReader(PsdStream &s, const std::vector<quint32> &counts, quint64 rows, int planes,
               const quint64 *planeAt)
        : m_s(s), m_counts(counts), m_rows(rows), m_planes(planes), m_at(planeAt, planeAt + planes)
    {
    }

    // Reads rows [first, end) of every plane into `band`.
    bool read(quint64 first, quint64 end, Band &band)
    {
        const quint64 n = end - first;
        band.first = first;
        band.end = end;
        band.rowAt.resize(size_t(n * quint64(m_planes)));
        size_t total = 0;
        for (int k = 0; k < m_planes; ++k)
            for (quint64 j = 0; j < n; ++j) {
                band.rowAt[size_t(quint64(k) * n + j)] = total;
                total += m_counts[size_t(quint64(k) * m_rows + first + j)];
            }
        band.data.resize(total + kUnpackSlack);
        for (int k = 0; k < m_planes; ++k) {
            const size_t from = band.rowAt[size_t(quint64(k) * n)];
            const size_t to = k + 1 < m_planes ? band.rowAt[size_t(quint64(k + 1) * n)] : total;
            if (!readAt(m_at[size_t(k)], band.data.data() + from, to - from)) return false;
            m_at[size_t(k)] += to - from;
        }
        return true;
    }

private:
    // The counts were checked against the document's length, so the stream's own checks,
    // which ask the system for the length each time, are not repeated for every band.
    bool readAt(quint64 at, uchar *to, quint64 size)
    {
        return platform::readDeviceAt(m_s.device(), at, reinterpret_cast<char *>(to), size) ||
               m_s.fail();
    }

    PsdStream &m_s;
    const std::vector<quint32> &m_counts;
    quint64 m_rows;
    int m_planes;
    std::vector<quint64> m_at; // where each plane's next unread row begins
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
        const RowConverter converter(picture, qint64(width * rows));
        const int planes = converter.planes();
        std::vector<uchar> table(size_t(quint64(planes) * rows * entry));
        if (!s.readBytes(reinterpret_cast<char *>(table.data()), qint64(table.size())))
            return result;
        // No writer makes a row longer than this; a longer count is something else.
        const quint64 longestRow = 2 * width + 16;
        std::vector<quint32> counts(size_t(quint64(planes) * rows));
        quint64 planeAt[kMaxPlanesUsed] = {};
        quint64 at = dataAt;
        for (int k = 0; k < planes; ++k) {
            planeAt[k] = at;
            for (quint64 y = 0; y < rows; ++y) {
                const size_t i = size_t(quint64(k) * rows + y);
                counts[i] = entry == 4 ? qFromBigEndian<quint32>(table.data() + 4 * i)
                                       : qFromBigEndian<quint16>(table.data() + 2 * i);
                if (counts[i] > longestRow) return result;
                at += counts[i];
            }
            if (at > end) return result;
        }
        table = std::vector<uchar>();

        QImage image = interleavedPicture(picture);
        if (image.isNull()) return result;
        uchar *const bits = image.bits();
        const qsizetype stride = image.bytesPerLine();

        platform::WorkTeam team(width * rows >= kTeamPixels ? platform::WorkTeam::suggestedSize(4)
                                                            : 1);
        // Each member expands a row's planes into rows of samples of its own.
        const size_t sampleRow = size_t(width + kUnpackSlack);
        std::vector<std::vector<uchar>> samples(size_t(team.size()),
                                                std::vector<uchar>(sampleRow * size_t(planes)));
        const quint64 bandRows = qBound<quint64>(1, kBandSamples / (width * quint64(planes)), rows);

        // While the team expands one band, the calling thread reads the next one first.
        BandReader reader(s, counts, rows, planes, planeAt);
        Band bands[2];
        if (!reader.read(0, bandRows, bands[0])) return result;
        bool readOk = true;
        std::atomic<bool> failed{false};
        for (quint64 first = 0, b = 0; first < rows; first += bandRows, b ^= 1) {
            const Band &band = bands[b];
            const quint64 next = first + bandRows;
            const quint64 n = band.end - band.first;
            std::atomic<quint64> nextRow{band.first};
            team.run([&](int member) {
                if (member == 0 && next < rows) {
                    try {
                        readOk = reader.read(next, qMin(rows, next + bandRows), bands[b ^ 1]);
                    } catch (const std::bad_alloc &) {
                        readOk = false; // the team must not be left by an exception
                    }
                }
                const uchar *sampleRows[kMaxPlanesUsed] = {};
                uchar *mine = samples[size_t(member)].data();
                for (int k = 0; k < planes; ++k)
                    sampleRows[k] = mine + size_t(k) * sampleRow;
                while (!failed.load(std::memory_order_relaxed)) {
                    const quint64 y = nextRow.fetch_add(1, std::memory_order_relaxed);
                    if (y >= band.end) return;
                    const quint64 j = y - band.first;
                    for (int k = 0; k < planes; ++k) {
                        const size_t from = band.rowAt[size_t(quint64(k) * n + j)];
                        const size_t count = counts[size_t(quint64(k) * rows + y)];
                        if (!unpackRowPadded(band.data.data() + from, count,
                                             mine + size_t(k) * sampleRow, width)) {
                            failed.store(true, std::memory_order_relaxed);
                            return;
                        }
                    }
                    converter.convert(sampleRows, int(width),
                                      reinterpret_cast<QRgb *>(bits + qsizetype(y) * stride));
                }
            });
            if (failed.load() || !readOk) return result;
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
