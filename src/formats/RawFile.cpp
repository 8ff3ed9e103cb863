#include "RawFile.h"

#include "IsoBoxes.h"
#include "RawLimits.h"
#include "RawShootingData.h"

#include <QBuffer>
#include <QFile>

#include <libraw.h>

#include <cmath>
#include <cstring>

namespace raw {

// LibRaw with the answers its interface lacks: where the preview lies and how it is stored.
// The preview's bytes are read here, never by LibRaw: Debian's LibRaw 0.20 allocates a
// preview from the size a file claims and then reads as much as the file claims, past the
// allocation when the two disagree.
class PreviewLibRaw : public LibRaw
{
public:
    PreviewLibRaw() : LibRaw(0) {}

    struct Place
    {
        enum Kind { None, Jpeg, Bitmap8, Bitmap16 };
        Kind kind = None;
        qint64 offset = 0;
        qint64 length = 0; // what the file claims; 0 when it claims nothing
        int width = 0, height = 0, samples = 0;
        bool littleEndian = true;
    };

    Place previewPlace()
    {
        const libraw_internal_data_t &internal = *get_internal_data_pointer();
        const libraw_thumbnail_t &t = imgdata.thumbnail;
        Place place;
        place.offset = internal.internal_data.toffset;
        place.length = t.tlength;
        place.width = t.twidth;
        place.height = t.theight;
        place.samples = int(internal.unpacker_data.thumb_misc >> 5 & 7);
        place.littleEndian = internal.unpacker_data.order == 0x4949;
        // Previews that LibRaw makes from sensor-like data (Kodak, Foveon) or stores in
        // layouts no camera of the raw suffixes writes (Leaf, Rollei) are not read.
        if (thumb_load_raw) return place;
        if (write_thumb == &PreviewLibRaw::jpeg_thumb)
            place.kind = Place::Jpeg;
        else if (write_thumb == &PreviewLibRaw::ppm_thumb)
            place.kind = Place::Bitmap8;
        else if (write_thumb == &PreviewLibRaw::ppm16_thumb)
            place.kind = Place::Bitmap16;
        return place;
    }
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

QImage bitmapPicture(QFile &file, const PreviewLibRaw::Place &place)
{
    const int sampleBytes = place.kind == PreviewLibRaw::Place::Bitmap16 ? 2 : 1;
    const QSize size(place.width, place.height);
    // A strip that claims fewer bytes than the picture needs is not this picture.
    if (size.isEmpty() || (place.length > 0 && place.length < qint64(place.width) * place.height *
                                                                  place.samples * sampleBytes))
        return QImage();
    return decodeBitmap(&file, place.offset, size, place.samples, sampleBytes, place.littleEndian);
}

QImage jpegPicture(QFile &file, const PreviewLibRaw::Place &place)
{
    if (place.length <= 0 || place.length > BufferLimit) return QImage();
    QByteArray bytes = readAt(&file, place.offset, place.length);
    if (bytes.size() != place.length || bytes.size() < 2) return QImage();
    // Cameras that write something else over the start marker are common enough that LibRaw
    // always takes the first two bytes to be one.
    bytes[0] = char(0xFF);
    bytes[1] = char(0xD8);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    if (!jpegFrameSize(&buffer, 0, bytes.size()).isValid()) return QImage();
    QImage image;
    if (!image.loadFromData(bytes, "JPEG")) return QImage();
    return image;
}

// The size of the picture LibRaw makes of the sensor data. Fujifilm's SuperCCD sensors are
// read into a working picture turned by 45 degrees, which is turned back; pixels that are not
// square are stretched to square ones.
QSize outputSize(PreviewLibRaw &libRaw)
{
    const libraw_image_sizes_t &sizes = libRaw.imgdata.sizes;
    const int fujiWidth = libRaw.get_internal_data_pointer()->internal_output_params.fuji_width;
    return pictureSize(QSize(sizes.width, sizes.height), fujiWidth, sizes.pixel_aspect);
}

} // namespace

// The file as LibRaw reads it, with a budget: every read and seek is counted, and past the
// budget the next one throws the exception LibRaw takes for a cut file, so that a file on
// which LibRaw would loop forever is refused instead.
class BudgetedStream : public LibRaw_file_datastream
{
public:
    BudgetedStream(const QString &path, qint64 budget)
        : LibRaw_file_datastream(QFile::encodeName(path).constData()), m_left(budget)
    {
    }
    int read(void *data, size_t size, size_t count) override
    {
        spend(qint64(qMin<quint64>(quint64(size) * count, quint64(1) << 60)));
        const int got = LibRaw_file_datastream::read(data, size, count);
        // LibRaw parses what it asked for whether or not the file held it (a date cut off at
        // the end is scanned as text): what the file did not hold reads as zeros.
        if (got >= 0 && size_t(got) < count)
            std::memset(static_cast<char *>(data) + size_t(got) * size, 0, (count - got) * size);
        return got;
    }
    int seek(INT64 offset, int whence) override
    {
        spend(0);
        return LibRaw_file_datastream::seek(offset, whence);
    }
    char *gets(char *text, int size) override
    {
        spend(size);
        return LibRaw_file_datastream::gets(text, size);
    }
    int scanf_one(const char *format, void *value) override
    {
        spend(0);
        return LibRaw_file_datastream::scanf_one(format, value);
    }
    int get_char() override
    {
        spend(1);
        return LibRaw_file_datastream::get_char();
    }

private:
    void spend(qint64 bytes)
    {
        m_left -= qMax(bytes, ReadCost);
        if (m_left < 0) throw LIBRAW_EXCEPTION_IO_EOF;
    }
    qint64 m_left;
};

namespace {

// Opens `path` with LibRaw through a budgeted stream, which `stream` then holds. ISO base
// media files (CR3) whose boxes do not hold together are not handed to LibRaw at all.
bool openWithLibRaw(PreviewLibRaw &libRaw, const QString &path,
                    std::unique_ptr<BudgetedStream> &stream)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    if (isIsoBaseMedia(&file) && !isoBoxesAreSound(&file)) return false;
    const qint64 budget = ReadBudgetBase + ReadBudgetPerFileByte * file.size();
    file.close();
    stream = std::make_unique<BudgetedStream>(path, budget);
    if (!stream->valid()) return false;
    libRaw.set_dataerror_handler(quietDataError, nullptr);
    libRaw.set_memerror_handler(quietMemoryError, nullptr);
    return libRaw.open_datastream(stream.get()) == LIBRAW_SUCCESS;
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

QSize pictureSize(const QSize &working, int fujiWidth, double pixelAspect)
{
    if (fujiWidth > 0) {
        // The working picture holds the SuperCCD's diagonal rows: its first fujiWidth - 1
        // columns are the picture's width turned by 45 degrees, the rest of its height is the
        // picture's height.
        const int diagonal = fujiWidth - 1;
        if (diagonal >= working.height()) return working;
        return QSize(int(diagonal / std::sqrt(0.5)),
                     int((working.height() - diagonal) / std::sqrt(0.5)));
    }
    if (!std::isfinite(pixelAspect) || pixelAspect <= 0 || pixelAspect > 16 ||
        pixelAspect < 1.0 / 16)
        return working;
    if (pixelAspect < 0.995)
        return QSize(working.width(), int(working.height() / pixelAspect + 0.5));
    if (pixelAspect > 1.005)
        return QSize(int(working.width() * pixelAspect + 0.5), working.height());
    return working;
}

RawFile::RawFile() = default;
RawFile::~RawFile() = default;

bool RawFile::open(const QString &path, bool fallback)
{
    if (isOpen()) return true;
    m_path = path;
    m_mayFallBack = fallback;

    // A CR3 file's previews and shooting data are all in boxes that the walk reads for a
    // fraction of what LibRaw's open costs (and LibRaw 0.20 cannot be trusted with its boxes):
    // LibRaw is asked only when the walk finds no preview.
    if (fallback && walk(true)) return true;

    try {
        auto libRaw = std::make_unique<PreviewLibRaw>();
        std::unique_ptr<BudgetedStream> stream;
        if (openWithLibRaw(*libRaw, path, stream)) {
            const libraw_data_t &data = libRaw->imgdata;
            m_size = outputSize(*libRaw);
            m_previewSize = QSize(data.thumbnail.twidth, data.thumbnail.theight);
            m_stream = std::move(stream);
            m_libRaw = std::move(libRaw);
            m_description = describe();
            return true;
        }
    } catch (...) {
        // An allocation that failed inside LibRaw: the file is refused like any other.
    }
    return fallback && walk(false);
}

bool RawFile::walk(bool isoBaseMediaWithPreview)
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    if (isoBaseMediaWithPreview && !isIsoBaseMedia(&file)) return false;
    if (!m_walked) {
        m_previews = findPreviews(&file, &m_walkedShooting);
        m_walked = true;
    }
    if (isoBaseMediaWithPreview && m_previews.isEmpty()) return false;
    ShootingData shooting = m_walkedShooting;
    if (shooting.picture.isEmpty()) shooting.picture = m_previews.largestSize();
    // A file whose structure told the picture's size is a raw file even without a preview
    // that decodes: its size and shooting data are still reported.
    if (shooting.picture.isEmpty()) return false;
    m_opened = true;
    m_size = shooting.picture;
    m_previewSize = m_previews.largestSize();
    m_description = describeShootingData(shooting);
    return true;
}

QImage RawFile::preview()
{
    QImage image = libRawPreview();
    if (!image.isNull() || !m_mayFallBack) return image;

    // LibRaw opened the file but could not hand over a preview (or its preview is damaged):
    // look for the previews ourselves, and show the first that decodes.
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) return QImage();
    if (!m_walked) {
        m_previews = findPreviews(&file);
        m_walked = true;
    }
    return decodePreview(&file, m_previews);
}

QImage RawFile::libRawPreview()
{
    if (!m_libRaw) return QImage();
    const PreviewLibRaw::Place place = m_libRaw->previewPlace();
    QFile file(m_path);
    if (place.kind == PreviewLibRaw::Place::None || !file.open(QIODevice::ReadOnly))
        return QImage();
    if (place.offset <= 0 || place.offset >= file.size()) return QImage();
    return place.kind == PreviewLibRaw::Place::Jpeg ? jpegPicture(file, place)
                                                    : bitmapPicture(file, place);
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
    shooting.picture = m_size;
    return describeShootingData(shooting);
}

} // namespace raw
