#include "platform/decoders/HeifHandler.h"

#include "platform/decoders/DecoderLimits.h"
#include "platform/decoders/DeviceBytes.h"

#include <QIODevice>
#include <QImage>
#include <QVariant>

#include <libheif/heif.h>

namespace platform::decoders {

namespace {

// No HEIF file we could show is larger; a larger one is not read into memory.
constexpr qint64 MaxFileBytes = qint64(1) << 30;
// libheif refuses images with a wider or higher side before it allocates their planes. Its
// own default; said here so that a change of library version does not change what opens.
constexpr int MaxHeifSide = 16384;

QString heifReason(const heif_error &error)
{
    return QString::fromUtf8(error.message && *error.message ? error.message : "unknown error");
}

// The EXIF payload of an item starts with the big-endian offset of its TIFF header.
QByteArray exifFromPayload(const QByteArray &payload)
{
    if (payload.size() < 4) return {};
    const auto *p = reinterpret_cast<const uchar *>(payload.constData());
    const quint32 skip = quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
    if (skip > quint32(payload.size() - 4)) return {};
    QByteArray exif = payload.mid(4 + int(skip));
    // some writers leave the JPEG segment's "Exif\0\0" before the TIFF header
    if (exif.startsWith(QByteArrayLiteral("Exif\0\0"))) exif.remove(0, 6);
    if (!exif.startsWith("II*\0") && !exif.startsWith(QByteArrayLiteral("MM\0*"))) return {};
    return exif;
}

} // namespace

// libheif's context, its primary image and the file's bytes it reads from (without a copy).
// heif_init and heif_deinit pair up around the context, so its plug-ins are released.
struct HeifHandler::Container
{
    QByteArray bytes;
    heif_context *context = nullptr;
    heif_image_handle *primary = nullptr;

    Container() { heif_init(nullptr); }
    ~Container()
    {
        if (primary) heif_image_handle_release(primary);
        if (context) heif_context_free(context);
        heif_deinit();
    }
    Container(const Container &) = delete;
    Container &operator=(const Container &) = delete;

    // The file parsed and its primary image found; its pixels are not decoded.
    heif_error load(QIODevice *device)
    {
        bytes = readWholeDevice(device, MaxFileBytes);
        if (bytes.isEmpty())
            return {heif_error_Invalid_input, heif_suberror_Unspecified, "file cannot be read"};
        context = heif_context_alloc();
        if (!context)
            return {heif_error_Memory_allocation_error, heif_suberror_Unspecified, "no memory"};
        heif_context_set_maximum_image_size_limit(context, MaxHeifSide);
        // Grid tiles are decoded on the calling thread: the frame decoder has its own
        // threads, and no thread of libheif's may outlive the read.
        heif_context_set_max_decoding_threads(context, 0);
        heif_error error = heif_context_read_from_memory_without_copy(
            context, bytes.constData(), size_t(bytes.size()), nullptr);
        if (error.code != heif_error_Ok) return error;
        return heif_context_get_primary_image_handle(context, &primary);
    }
};

HeifHandler::HeifHandler() = default;
HeifHandler::~HeifHandler() = default;

bool HeifHandler::canRead(QIODevice *device)
{
    if (!device) return false;
    const QByteArray head = device->peek(256);
    if (head.size() < 12 || head.mid(4, 4) != "ftyp") return false;
    const auto *data = reinterpret_cast<const uint8_t *>(head.constData());
    if (heif_check_filetype(data, head.size()) == heif_filetype_yes_supported) return true;
    // libheif is unsure of files whose main brand is the general image brand (mif1); they
    // are ours when they name HEVC as well
    for (const char *brand : {"heic", "heix", "heim", "heis"})
        if (heif_has_compatible_brand(data, head.size(), brand) == 1) return true;
    return false;
}

bool HeifHandler::canRead() const
{
    if (!canRead(device())) return false;
    const_cast<HeifHandler *>(this)->setFormat("heic");
    return true;
}

bool HeifHandler::open() const
{
    if (m_opened) return m_container && m_container->primary;
    m_opened = true;
    if (!canRead(device())) {
        m_error = QStringLiteral("not a HEIF file");
        return false;
    }
    m_container = std::make_unique<Container>();
    const heif_error error = m_container->load(device());
    if (error.code != heif_error_Ok) {
        m_error = heifReason(error);
        m_container.reset();
        return false;
    }
    return true;
}

bool HeifHandler::read(QImage *image)
{
    if (!image || !open()) return false;
    const heif_image_handle *primary = m_container->primary;
    const int width = heif_image_handle_get_width(primary);
    const int height = heif_image_handle_get_height(primary);
    if (!fitsLimits(width, height) || !fitsLimits(heif_image_handle_get_ispe_width(primary),
                                                  heif_image_handle_get_ispe_height(primary))) {
        m_error = QStringLiteral("picture of %1 x %2 pixels is larger than allowed")
                      .arg(width)
                      .arg(height);
        return false;
    }
    const bool alpha = heif_image_handle_has_alpha_channel(primary);

    heif_decoding_options *options = heif_decoding_options_alloc();
    options->convert_hdr_to_8bit = 1;
    options->strict_decoding = 1;
    heif_image *decoded = nullptr;
    const heif_error error = heif_decode_image(
        primary, &decoded, heif_colorspace_RGB,
        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options);
    heif_decoding_options_free(options);
    if (error.code != heif_error_Ok) {
        if (decoded) heif_image_release(decoded);
        m_error = heifReason(error);
        return false;
    }
    const std::unique_ptr<heif_image, void (*)(const heif_image *)> pixels(decoded,
                                                                           heif_image_release);

    int stride = 0;
    const uint8_t *plane =
        heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
    const int w = heif_image_get_width(decoded, heif_channel_interleaved);
    const int h = heif_image_get_height(decoded, heif_channel_interleaved);
    const int bytesPerPixel = alpha ? 4 : 3;
    if (!plane || w != width || h != height || stride < w * bytesPerPixel) {
        m_error = QStringLiteral("decoded picture does not have its stated size");
        return false;
    }
    const QImage::Format format = !alpha ? QImage::Format_RGB888
                                  : heif_image_handle_is_premultiplied_alpha(primary)
                                      ? QImage::Format_RGBA8888_Premultiplied
                                      : QImage::Format_RGBA8888;
    QImage result(w, h, format);
    if (result.isNull()) {
        m_error = QStringLiteral("no memory for the picture");
        return false;
    }
    for (int y = 0; y < h; ++y)
        memcpy(result.scanLine(y), plane + qint64(y) * stride, size_t(w) * bytesPerPixel);
    *image = result;
    m_error.clear();
    return true;
}

bool HeifHandler::supportsOption(ImageOption option) const
{
    return option == Size || option == ImageFormat;
}

QVariant HeifHandler::option(ImageOption option) const
{
    if (!supportsOption(option) || !open()) return {};
    const heif_image_handle *primary = m_container->primary;
    if (option == Size)
        return QSize(heif_image_handle_get_width(primary), heif_image_handle_get_height(primary));
    if (!heif_image_handle_has_alpha_channel(primary)) return QImage::Format_RGB888;
    return heif_image_handle_is_premultiplied_alpha(primary) ? QImage::Format_RGBA8888_Premultiplied
                                                             : QImage::Format_RGBA8888;
}

QString HeifHandler::errorText() const
{
    return m_error;
}

QByteArray HeifHandler::exif() const
{
    if (!open()) return {};
    const heif_image_handle *primary = m_container->primary;
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(primary, "Exif", &id, 1) != 1) return {};
    const size_t size = heif_image_handle_get_metadata_size(primary, id);
    // the item lies inside the file, which libheif has checked
    if (size == 0 || size > size_t(m_container->bytes.size())) return {};
    QByteArray payload(int(size), Qt::Uninitialized);
    if (heif_image_handle_get_metadata(primary, id, payload.data()).code != heif_error_Ok)
        return {};
    return exifFromPayload(payload);
}

QByteArray heifExif(QIODevice *device)
{
    if (!HeifHandler::canRead(device)) return {};
    HeifHandler handler;
    handler.setDevice(device);
    return handler.exif();
}

} // namespace platform::decoders
