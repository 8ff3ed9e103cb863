#include "platform/decoders/TiffHandler.h"

#include "platform/decoders/DecoderLimits.h"

#include <QIODevice>
#include <QImage>
#include <QImageReader>
#include <QVariant>
#include <QVector>

#include <tiffio.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <vector>

namespace platform::decoders {

namespace {

// As many pages as the frame decoder walks.
constexpr int MaxPages = 4096;
// No strip or tile of a picture within DecoderLimits is larger.
constexpr tmsize_t MaxBlockBytes = tmsize_t(1) << 30;

// libtiff reads the handler's device through these, relative to where the file starts.
struct DeviceStream
{
    QIODevice *device = nullptr;
    qint64 start = 0;
    QString error;
};

tmsize_t readProc(thandle_t handle, void *data, tmsize_t size)
{
    return static_cast<DeviceStream *>(handle)->device->read(static_cast<char *>(data), size);
}

tmsize_t writeProc(thandle_t, void *, tmsize_t)
{
    return -1;
}

toff_t seekProc(thandle_t handle, toff_t offset, int whence)
{
    auto *stream = static_cast<DeviceStream *>(handle);
    qint64 target = -1;
    const auto delta = qint64(offset);
    if (whence == SEEK_SET)
        target = stream->start + delta;
    else if (whence == SEEK_CUR)
        target = stream->device->pos() + delta;
    else if (whence == SEEK_END)
        target = stream->device->size() + delta;
    if (target < stream->start || target > stream->device->size() || !stream->device->seek(target))
        return toff_t(-1);
    return toff_t(target - stream->start);
}

int closeProc(thandle_t)
{
    return 0;
}

toff_t sizeProc(thandle_t handle)
{
    const auto *stream = static_cast<DeviceStream *>(handle);
    return toff_t(qMax<qint64>(0, stream->device->size() - stream->start));
}

int mapProc(thandle_t, void **, toff_t *)
{
    return 0;
}

void unmapProc(thandle_t, void *, toff_t) {}

// The first error is the reason we give; libtiff prints nothing.
int errorProc(TIFF *, void *user, const char *module, const char *format, va_list args)
{
    auto *stream = static_cast<DeviceStream *>(user);
    if (stream->error.isEmpty()) {
        char text[512];
        vsnprintf(text, sizeof text, format, args);
        stream->error = QString::fromUtf8(text);
        if (module && *module) stream->error.prepend(QString::fromUtf8(module) + ": ");
    }
    return 1;
}

int warningProc(TIFF *, void *, const char *, const char *, va_list)
{
    return 1;
}

struct TiffCloser
{
    void operator()(TIFF *tiff) const { TIFFClose(tiff); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

TiffPtr openTiff(DeviceStream &stream)
{
    if (!stream.device->seek(stream.start)) return {};
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, MaxBlockBytes);
    TIFFOpenOptionsSetErrorHandlerExtR(options, errorProc, &stream);
    TIFFOpenOptionsSetWarningHandlerExtR(options, warningProc, &stream);
    // "m": the device is no file that could be mapped
    TiffPtr tiff(TIFFClientOpenExt("picture", "rm", &stream, readProc, writeProc, seekProc,
                                   closeProc, sizeProc, mapProc, unmapProc, options));
    TIFFOpenOptionsFree(options);
    return tiff;
}

// What a page holds, as far as the choice of reader and the conversion need it.
struct Layout
{
    quint32 width = 0, height = 0;
    quint16 bits = 0, samples = 0, photometric = 0, planar = PLANARCONFIG_CONTIG;
    quint16 sampleFormat = SAMPLEFORMAT_UINT;
    int colours = 0; // 1 grey or L*, 3 RGB or L*a*b*
    int alpha = 0;   // 0 none, else EXTRASAMPLE_ASSOCALPHA or EXTRASAMPLE_UNASSALPHA
    bool tiled = false;
    quint32 blockWidth = 0, blockHeight = 0;

    bool lab() const
    {
        return photometric == PHOTOMETRIC_CIELAB || photometric == PHOTOMETRIC_ICCLAB ||
               photometric == PHOTOMETRIC_ITULAB;
    }
};

bool readLayout(TIFF *tiff, Layout &page)
{
    uint32_t width = 0, height = 0;
    uint16_t photometric = 0, bits = 1, samples = 1, planar = PLANARCONFIG_CONTIG,
             format = SAMPLEFORMAT_UINT, extraCount = 0;
    uint16_t *extra = nullptr;
    if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height) ||
        !TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric))
        return false;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    page.width = width;
    page.height = height;
    page.bits = bits;
    page.samples = samples;
    page.photometric = photometric;
    page.planar = planar;
    page.sampleFormat = format;
    switch (photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
        page.colours = 1;
        break;
    case PHOTOMETRIC_RGB:
        page.colours = 3;
        break;
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
    case PHOTOMETRIC_ITULAB:
        page.colours = samples >= 3 ? 3 : 1;
        break;
    default:
        page.colours = 0;
    }
    if (page.colours && samples > page.colours && extraCount > 0 && extra &&
        (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA))
        page.alpha = extra[0];
    page.tiled = TIFFIsTiled(tiff);
    if (page.tiled) {
        TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &page.blockWidth);
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &page.blockHeight);
    } else {
        uint32_t rows = height;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rows);
        page.blockWidth = width;
        page.blockHeight = qMin(rows, height);
    }
    return true;
}

// The pages Qt's TIFF reader refuses or decodes with wrong colours, found by comparing its
// output with the known pixels of pages libtiff wrote, over 1 to 16 bits, grey and RGB, with
// and without alpha, in planes or not, in strips or tiles: grey with alpha at any depth,
// grey at depths other than 1, 2, 4, 8 and 16, RGB at depths other than 8 and 16, and RGB
// of 16 bits in planes. L*a*b* pages it converts through libtiff's RGBA path, which makes
// their white yellow.
bool needsOurs(const Layout &page)
{
    if (!page.colours || page.sampleFormat == SAMPLEFORMAT_IEEEFP || page.bits < 1 ||
        page.bits > 16 || page.samples < page.colours)
        return false;
    if (page.lab()) return page.bits == 8 || page.bits == 16;
    if (page.colours == 1)
        return page.alpha || !(page.bits == 1 || page.bits == 2 || page.bits == 4 ||
                               page.bits == 8 || page.bits == 16);
    return (page.bits != 8 && page.bits != 16) ||
           (page.bits == 16 && page.planar == PLANARCONFIG_SEPARATE);
}

QImage::Format pixelFormat(const Layout &page)
{
    if (!page.alpha) return QImage::Format_RGB32;
    return page.alpha == EXTRASAMPLE_ASSOCALPHA ? QImage::Format_ARGB32_Premultiplied
                                                : QImage::Format_ARGB32;
}

// Sample `index` of a row of samples packed with the most significant bit first (libtiff
// has already put 16-bit samples in the machine's order).
quint32 sampleAt(const uchar *row, quint64 rowBytes, quint64 index, int bits)
{
    if (bits == 8) return row[index];
    if (bits == 16) {
        quint16 value;
        memcpy(&value, row + 2 * index, 2);
        return value;
    }
    const quint64 bit = index * quint64(bits);
    const quint64 at = bit >> 3;
    quint32 window = quint32(row[at]) << 16;
    if (at + 1 < rowBytes) window |= quint32(row[at + 1]) << 8;
    if (at + 2 < rowBytes) window |= row[at + 2];
    return (window >> (24 - int(bit & 7) - bits)) & ((1u << bits) - 1);
}

double srgbEncoded(double linear)
{
    const double c =
        linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
    return qBound(0.0, c, 1.0);
}

// L*a*b* relative to D50 (as Photoshop and ICC profiles have it) to sRGB, with Bradford's
// adaptation to D65 folded into the matrix; L* 100 is white (255, 255, 255).
QRgb labToRgb(double l, double a, double b, int alpha)
{
    const double fy = (l + 16) / 116, fx = fy + a / 500, fz = fy - b / 200;
    auto inverse = [](double t) {
        constexpr double d = 6.0 / 29;
        return t > d ? t * t * t : 3 * d * d * (t - 4.0 / 29);
    };
    const double x = 0.96422 * inverse(fx), y = inverse(fy), z = 0.82521 * inverse(fz);
    const double r = 3.1338561 * x - 1.6168667 * y - 0.4906146 * z;
    const double g = -0.9787684 * x + 1.9161415 * y + 0.0334540 * z;
    const double bl = 0.0719453 * x - 0.2289914 * y + 1.4052427 * z;
    return qRgba(qRound(255 * srgbEncoded(r)), qRound(255 * srgbEncoded(g)),
                 qRound(255 * srgbEncoded(bl)), alpha);
}

// One pixel's samples (raw values) as a colour.
class PixelConverter
{
public:
    explicit PixelConverter(const Layout &page) : m_page(page), m_max((1u << page.bits) - 1) {}

    QRgb operator()(const quint32 *s) const
    {
        const int alpha = m_page.alpha ? scaled(s[m_page.colours]) : 255;
        QRgb rgb;
        if (m_page.lab()) {
            rgb = lab(s, alpha);
        } else if (m_page.colours == 1) {
            int grey = scaled(s[0]);
            if (m_page.photometric == PHOTOMETRIC_MINISWHITE) grey = 255 - grey;
            rgb = qRgba(grey, grey, grey, alpha);
        } else {
            rgb = qRgba(scaled(s[0]), scaled(s[1]), scaled(s[2]), alpha);
        }
        if (m_page.alpha == EXTRASAMPLE_ASSOCALPHA)
            rgb = qRgba(qMin(qRed(rgb), alpha), qMin(qGreen(rgb), alpha), qMin(qBlue(rgb), alpha),
                        alpha);
        return rgb;
    }

private:
    int scaled(quint32 value) const { return int((quint64(value) * 255 + m_max / 2) / m_max); }

    QRgb lab(const quint32 *s, int alpha) const
    {
        const double l = 100.0 * s[0] / m_max;
        if (m_page.colours == 1) return labToRgb(l, 0, 0, alpha);
        double a, b;
        if (m_page.photometric == PHOTOMETRIC_CIELAB) {
            // signed samples; 16-bit ones in 1/256 units
            a = m_page.bits == 8 ? qint8(s[1]) : qint16(s[1]) / 256.0;
            b = m_page.bits == 8 ? qint8(s[2]) : qint16(s[2]) / 256.0;
        } else if (m_page.photometric == PHOTOMETRIC_ICCLAB) {
            a = m_page.bits == 8 ? int(s[1]) - 128 : s[1] / 256.0 - 128;
            b = m_page.bits == 8 ? int(s[2]) - 128 : s[2] / 256.0 - 128;
        } else {
            // ITULab's default ranges: a* from -85 to 85, b* from -75 to 125
            a = -85 + 170.0 * s[1] / m_max;
            b = -75 + 200.0 * s[2] / m_max;
        }
        return labToRgb(l, a, b, alpha);
    }

    const Layout &m_page;
    const quint32 m_max;
};

// Whether the stored blocks of the planes shown lie in the file and are large enough for
// the pixels they claim: no codec of TIFF's expands its data more than MaxExpansion times
// (LZW's longest code stands for 4096 bytes). A file that claims more is refused before
// memory is spent on its blocks.
constexpr quint64 MaxExpansion = 4096;

bool dataCanHold(TIFF *tiff, const Layout &page, int planes, quint64 blockBytes, quint64 fileBytes)
{
    const quint32 blocks = page.tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    const int stored = page.planar == PLANARCONFIG_SEPARATE ? page.samples : 1;
    if (blocks == 0 || blocks % quint32(stored)) return false;
    const quint32 perPlane = blocks / quint32(stored);
    quint64 total = 0;
    for (quint32 i = 0; i < perPlane * quint32(planes); ++i) {
        const quint64 offset = TIFFGetStrileOffset(tiff, i);
        const quint64 count = TIFFGetStrileByteCount(tiff, i);
        if (count == 0 || offset > fileBytes || count > fileBytes - offset) return false;
        total += count;
    }
    return quint64(perPlane) * quint64(planes) * blockBytes <= MaxExpansion * total;
}

// The page's pixels, block (strip or tile) by block; for planes, every plane of a block is
// read before its pixels are converted.
bool readPixels(TIFF *tiff, const Layout &page, quint64 fileBytes, QImage &image)
{
    const bool separate = page.planar == PLANARCONFIG_SEPARATE && page.samples > 1;
    const int used = qMin<int>(page.samples, page.colours + (page.alpha ? 1 : 0));
    // of a page in planes, only the planes shown are read
    const int planes = separate ? used : 1;
    const int perPixel = separate ? 1 : page.samples;
    if (page.blockWidth == 0 || page.blockHeight == 0 || page.blockWidth > quint32(MaxSide) ||
        page.blockHeight > quint32(MaxSide))
        return false;
    const quint64 rowBytes = (quint64(page.blockWidth) * perPixel * page.bits + 7) / 8;
    const quint64 blockBytes = rowBytes * page.blockHeight;
    const tmsize_t libSize = page.tiled ? TIFFTileSize(tiff) : TIFFStripSize(tiff);
    if (blockBytes == 0 || blockBytes > quint64(MaxBlockBytes) || libSize <= 0 ||
        libSize > MaxBlockBytes)
        return false;
    if (!dataCanHold(tiff, page, planes, blockBytes, fileBytes)) return false;
    const auto bufferBytes = size_t(qMax<quint64>(blockBytes, quint64(libSize)));
    std::vector<std::vector<uchar>> buffers(size_t(planes), std::vector<uchar>(bufferBytes, 0));

    const quint32 across = page.tiled ? (page.width + page.blockWidth - 1) / page.blockWidth : 1;
    const quint32 down = (page.height + page.blockHeight - 1) / page.blockHeight;
    const PixelConverter convert(page);
    quint32 samples[4] = {};
    for (quint32 by = 0; by < down; ++by) {
        for (quint32 bx = 0; bx < across; ++bx) {
            const quint32 x0 = bx * page.blockWidth, y0 = by * page.blockHeight;
            const quint32 rows = qMin(page.blockHeight, page.height - y0);
            const quint32 cols = qMin(page.blockWidth, page.width - x0);
            for (int plane = 0; plane < planes; ++plane) {
                auto *data = buffers[size_t(plane)].data();
                tmsize_t got;
                if (page.tiled) {
                    got =
                        TIFFReadEncodedTile(tiff, TIFFComputeTile(tiff, x0, y0, 0, uint16_t(plane)),
                                            data, tmsize_t(bufferBytes));
                } else {
                    got = TIFFReadEncodedStrip(tiff, TIFFComputeStrip(tiff, y0, uint16_t(plane)),
                                               data, tmsize_t(bufferBytes));
                }
                // a strip at the bottom may hold fewer rows; it must hold those it shows
                if (got < 0 || quint64(got) < rowBytes * (page.tiled ? page.blockHeight : rows))
                    return false;
            }
            for (quint32 y = 0; y < rows; ++y) {
                auto *line = reinterpret_cast<QRgb *>(image.scanLine(int(y0 + y))) + x0;
                for (quint32 x = 0; x < cols; ++x) {
                    for (int s = 0; s < used; ++s) {
                        const uchar *row = buffers[size_t(separate ? s : 0)].data() + y * rowBytes;
                        const quint64 index = separate ? x : quint64(x) * perPixel + quint64(s);
                        samples[s] = sampleAt(row, rowBytes, index, page.bits);
                    }
                    line[x] = convert(samples);
                }
            }
        }
    }
    return true;
}

bool isTiffSignature(const QByteArray &head)
{
    return head.startsWith(QByteArrayLiteral("II*\0")) ||
           head.startsWith(QByteArrayLiteral("MM\0*")) ||
           head.startsWith(QByteArrayLiteral("II+\0")) ||
           head.startsWith(QByteArrayLiteral("MM\0+"));
}

} // namespace

TiffHandler::TiffHandler() = default;
TiffHandler::~TiffHandler() = default;

bool TiffHandler::canRead(QIODevice *device)
{
    if (!device || device->isSequential() || !isTiffSignature(device->peek(4))) return false;
    TiffHandler probe;
    probe.setDevice(device);
    const qint64 at = device->pos();
    const bool ours = probe.scan() && std::any_of(probe.m_pages.cbegin(), probe.m_pages.cend(),
                                                  [](const Page &page) { return page.ours; });
    device->seek(at);
    return ours;
}

bool TiffHandler::canRead() const
{
    if (!canRead(device())) return false;
    const_cast<TiffHandler *>(this)->setFormat("tiff");
    return true;
}

// Every page's size and whether it is ours; the device is left where it was.
bool TiffHandler::scan() const
{
    if (m_scanned) return !m_pages.isEmpty();
    m_scanned = true;
    QIODevice *source = device();
    if (!source || source->isSequential()) return false;
    const qint64 at = source->pos();
    m_start = at;
    DeviceStream stream{source, at, {}};
    {
        const TiffPtr tiff = openTiff(stream);
        if (tiff) {
            do {
                Layout layout;
                Page page;
                if (readLayout(tiff.get(), layout)) {
                    page.size = QSize(int(qMin<quint32>(layout.width, INT_MAX)),
                                      int(qMin<quint32>(layout.height, INT_MAX)));
                    page.ours = needsOurs(layout);
                    uint16_t orientation = ORIENTATION_TOPLEFT;
                    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_ORIENTATION, &orientation);
                    page.orientation = orientation;
                    page.alpha = layout.alpha != 0;
                }
                m_pages.append(page);
            } while (m_pages.size() < MaxPages && TIFFReadDirectory(tiff.get()));
        }
    }
    source->seek(at);
    if (m_pages.isEmpty())
        m_error = stream.error.isEmpty() ? QStringLiteral("not a TIFF file") : stream.error;
    return !m_pages.isEmpty();
}

bool TiffHandler::read(QImage *image)
{
    if (!image || !scan()) return false;
    if (m_current < 0 || m_current >= m_pages.size()) return false;
    const Page &page = m_pages.at(m_current);
    if (!page.ours) {
        // Qt's reader decodes this page right
        if (!device()->seek(m_start)) return false;
        QImageReader qt(device(), "tiff");
        QImage result;
        if ((m_current > 0 && !qt.jumpToImage(m_current)) || !qt.read(&result)) {
            m_error = qt.errorString();
            return false;
        }
        *image = result;
        m_error.clear();
        return true;
    }
    if (!fitsLimits(page.size.width(), page.size.height())) {
        m_error = QStringLiteral("page of %1 x %2 pixels is larger than allowed")
                      .arg(page.size.width())
                      .arg(page.size.height());
        return false;
    }
    DeviceStream stream{device(), m_start, {}};
    const TiffPtr tiff = openTiff(stream);
    Layout layout;
    if (!tiff || !TIFFSetDirectory(tiff.get(), tdir_t(m_current)) ||
        !readLayout(tiff.get(), layout) || !needsOurs(layout)) {
        m_error = stream.error.isEmpty() ? QStringLiteral("page cannot be read") : stream.error;
        return false;
    }
    QImage result(page.size, pixelFormat(layout));
    if (result.isNull()) {
        m_error = QStringLiteral("no memory for the page");
        return false;
    }
    const quint64 fileBytes = quint64(qMax<qint64>(0, device()->size() - m_start));
    if (!readPixels(tiff.get(), layout, fileBytes, result)) {
        m_error = stream.error.isEmpty() ? QStringLiteral("page data is damaged") : stream.error;
        return false;
    }
    *image = result;
    m_error.clear();
    return true;
}

bool TiffHandler::supportsOption(ImageOption option) const
{
    return option == Size || option == ImageFormat || option == ImageTransformation;
}

QVariant TiffHandler::option(ImageOption option) const
{
    if (!supportsOption(option) || !scan() || m_current >= m_pages.size()) return {};
    const Page &page = m_pages.at(m_current);
    if (option == Size) return page.size;
    if (option == ImageTransformation) {
        // the page's Orientation tag, as Qt's reader answers it; the caller applies it
        static const Transformation turns[] = {
            TransformationNone,     TransformationNone,
            TransformationMirror,   TransformationRotate180,
            TransformationFlip,     TransformationFlipAndRotate90,
            TransformationRotate90, TransformationMirrorAndRotate90,
            TransformationRotate270};
        return int(page.orientation <= 8 ? turns[page.orientation] : TransformationNone);
    }
    if (!page.ours) return QImage::Format_ARGB32;
    return page.alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32;
}

int TiffHandler::imageCount() const
{
    return scan() ? m_pages.size() : 0;
}

bool TiffHandler::jumpToImage(int imageNumber)
{
    if (!scan() || imageNumber < 0 || imageNumber >= m_pages.size()) return false;
    m_current = imageNumber;
    return true;
}

bool TiffHandler::jumpToNextImage()
{
    return jumpToImage(m_current + 1);
}

int TiffHandler::currentImageNumber() const
{
    return m_current;
}

QString TiffHandler::errorText() const
{
    return m_error;
}

} // namespace platform::decoders
