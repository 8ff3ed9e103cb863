#include "RawFile.h"

#include "RawLimits.h"
#include "RawShootingData.h"

#include <QBuffer>
#include <QFile>

#include <libraw.h>

#include <cstring>

namespace raw {

// LibRaw with the one answer its interface lacks: whether the preview it unpacks is a JPEG
// stream (which it reads through libjpeg) rather than a bitmap.
class PreviewLibRaw : public LibRaw
{
public:
    PreviewLibRaw() : LibRaw(0) {}
    bool previewIsJpeg() const { return write_thumb == &PreviewLibRaw::jpeg_thumb; }
};

namespace {

// LibRaw reports damaged data and failed allocations on the standard error stream unless
// it is given handlers of its own; the library writes no log.
void quietDataError(void *, const char *, const int) {}
void quietMemoryError(void *, const char *, const char *) {}

QString latin1(const char *text, size_t capacity)
{
    return QString::fromLatin1(text, int(strnlen(text, capacity)));
}

// LibRaw's memory picture, released when it goes out of scope.
struct MemoryPicture
{
    libraw_processed_image_t *picture = nullptr;
    ~MemoryPicture()
    {
        if (picture) LibRaw::dcraw_clear_mem(picture);
    }
};

// A bitmap preview as 32-bit RGB: per pixel the three samples in reverse order (blue,
// green, red in memory), or the one grey sample three times; of a 16-bit sample only its
// first byte is used. Null when the picture's fields do not match its data.
QImage bitmapPicture(const libraw_processed_image_t &picture)
{
    const int width = picture.width, height = picture.height, colours = picture.colors;
    const int sampleBytes = picture.bits / 8;
    if (width <= 0 || height <= 0 || qint64(width) * height > MaxPreviewPixels ||
        (colours != 1 && colours != 3) || (sampleBytes != 1 && sampleBytes != 2))
        return QImage();
    const qint64 pixelBytes = qint64(colours) * sampleBytes;
    if (qint64(picture.data_size) < qint64(width) * height * pixelBytes) return QImage();

    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull()) return QImage();
    const uchar *in = picture.data;
    for (int y = 0; y < height; ++y) {
        uchar *out = image.scanLine(y);
        for (int x = 0; x < width; ++x, in += pixelBytes, out += 4) {
            if (colours == 3) {
                out[0] = in[2 * sampleBytes];
                out[1] = in[sampleBytes];
                out[2] = in[0];
            } else {
                out[0] = out[1] = out[2] = in[0];
            }
            out[3] = 0xFF;
        }
    }
    return image;
}

QImage jpegPicture(const libraw_processed_image_t &picture)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(picture.data),
                                               int(qMin<quint32>(picture.data_size, BufferLimit)));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    if (!jpegFrameSize(&buffer, 0, bytes.size()).isValid()) return QImage();
    QImage image;
    if (!image.loadFromData(bytes, "JPEG")) return QImage();
    return image;
}

bool openWithLibRaw(PreviewLibRaw &libRaw, const QString &path)
{
    libRaw.set_dataerror_handler(quietDataError, nullptr);
    libRaw.set_memerror_handler(quietMemoryError, nullptr);
    return libRaw.open_file(QFile::encodeName(path).constData(), BufferLimit) == LIBRAW_SUCCESS;
}

} // namespace

QStringList rawSuffixes()
{
    return {QStringLiteral("crw"), QStringLiteral("cr2"), QStringLiteral("cr3"),
            QStringLiteral("arw"), QStringLiteral("nef"), QStringLiteral("raf"),
            QStringLiteral("dng"), QStringLiteral("pef"), QStringLiteral("orf"),
            QStringLiteral("mrw"), QStringLiteral("x3f"), QStringLiteral("rw2")};
}

bool isRawSuffix(const QString &suffix)
{
    return rawSuffixes().contains(suffix.toLower());
}

RawFile::RawFile() = default;
RawFile::~RawFile() = default;

bool RawFile::open(const QString &path, bool fallback)
{
    if (isOpen()) return true;
    m_path = path;
    m_mayFallBack = fallback;

    try {
        auto libRaw = std::make_unique<PreviewLibRaw>();
        if (openWithLibRaw(*libRaw, path)) {
            const libraw_data_t &data = libRaw->imgdata;
            m_size = QSize(data.sizes.width, data.sizes.height);
            m_previewSize = QSize(data.thumbnail.twidth, data.thumbnail.theight);
            m_libRaw = std::move(libRaw);
            m_description = describe();
            return true;
        }
    } catch (...) {
        // An allocation that failed inside LibRaw: the file is refused like any other.
    }
    if (!fallback) return false;

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    ShootingData shooting;
    m_fallback = findLargestJpegPreview(&file, &shooting);
    if (!m_fallback.isValid()) return false;
    if (shooting.picture.isEmpty()) shooting.picture = m_fallback.size;
    m_size = shooting.picture;
    m_previewSize = m_fallback.size;
    m_description = describeShootingData(shooting);
    return true;
}

QImage RawFile::preview()
{
    QImage image = libRawPreview();
    if (!image.isNull() || !m_mayFallBack) return image;

    // LibRaw opened the file but could not hand over a preview: look for one ourselves.
    if (!m_fallback.isValid()) {
        QFile file(m_path);
        if (!file.open(QIODevice::ReadOnly)) return QImage();
        m_fallback = findLargestJpegPreview(&file);
    }
    if (!m_fallback.isValid()) return QImage();
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) return QImage();
    return decodeJpegPreview(&file, m_fallback);
}

QImage RawFile::libRawPreview()
{
    if (!m_libRaw) return QImage();
    try {
        // LibRaw unpacks a preview once per opening: a second read opens the file afresh.
        if (m_previewUnpacked) {
            m_libRaw->recycle();
            if (!openWithLibRaw(*m_libRaw, m_path)) return QImage();
        }
        m_previewUnpacked = true;
        if (!libRawJpegHeaderIsWhole()) return QImage();
        if (m_libRaw->unpack_thumb() != LIBRAW_SUCCESS) return QImage();
        int error = 0;
        MemoryPicture memory{m_libRaw->dcraw_make_mem_thumb(&error)};
        if (!memory.picture) return QImage();
        switch (memory.picture->type) {
        case LIBRAW_IMAGE_JPEG:
            return jpegPicture(*memory.picture);
        case LIBRAW_IMAGE_BITMAP:
            return bitmapPicture(*memory.picture);
        default:
            return QImage();
        }
    } catch (...) {
        return QImage();
    }
}

bool RawFile::libRawJpegHeaderIsWhole() const
{
    // LibRaw reads a JPEG preview's header with libjpeg, whose warnings go to the standard
    // error stream: a JPEG preview whose header is not whole is refused before that. LibRaw
    // writes a start marker over the stream's first two bytes, so they are not checked.
    if (!m_libRaw->previewIsJpeg()) return true;
    const qint64 offset = m_libRaw->get_internal_data_pointer()->internal_data.toffset;
    const qint64 length = m_libRaw->imgdata.thumbnail.tlength;
    QFile file(m_path);
    return file.open(QIODevice::ReadOnly) && jpegFrameSize(&file, offset, length, false).isValid();
}

QString RawFile::describe() const
{
    const libraw_data_t &data = m_libRaw->imgdata;
    ShootingData shooting;
    shooting.timestamp = qint64(data.other.timestamp);
    shooting.make = latin1(data.idata.make, sizeof data.idata.make);
    shooting.model = latin1(data.idata.model, sizeof data.idata.model);
    shooting.lens = latin1(data.lens.Lens, sizeof data.lens.Lens);
    shooting.aperture = data.other.aperture;
    shooting.maxAperture = data.lens.MaxAp4MaxFocal;
    shooting.exposureTime = data.other.shutter;
    shooting.isoSpeed = data.other.iso_speed;
    shooting.focalLength = data.other.focal_len;
    shooting.flash = data.color.flash_used;
    shooting.flip = data.sizes.flip;
    shooting.picture = QSize(data.sizes.width, data.sizes.height);
    return describeShootingData(shooting);
}

} // namespace raw
