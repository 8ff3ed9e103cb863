#include "platform/PictureEncoder.h"

#include "platform/StagedFile.h"

#include <QImageWriter>
#include <QSaveFile>

namespace platform {

namespace {

struct ContainerInfo
{
    PictureContainer container;
    const char *mimeType;
    const char *writerFormat;
};

constexpr ContainerInfo Containers[] = {
    {PictureContainer::Bmp, "image/bmp", "bmp"},
    {PictureContainer::Jpeg, "image/jpeg", "jpeg"},
    {PictureContainer::Png, "image/png", "png"},
    {PictureContainer::Tiff, "image/tiff", "tiff"},
};

// The quality the encoder uses when nobody asks for one.
constexpr int JpegQuality = 90;

// The rows as a picture whose pixels read in true colours.
QImage fromLayout(PixelLayout layout, const QImage &rows)
{
    switch (layout) {
    case PixelLayout::Indexed8:
        return rows.convertToFormat(QImage::Format_Indexed8);
    case PixelLayout::Bgr24: {
        // The rows leave in blue, green, red order; the writers take red first.
        const QImage rgb = rows.convertToFormat(QImage::Format_RGB888);
        return rgb.rgbSwapped();
    }
    case PixelLayout::Bgra32:
        return rows.convertToFormat(QImage::Format_ARGB32);
    case PixelLayout::PBgra32:
        return rows.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    case PixelLayout::Alpha8:
        return rows.convertToFormat(QImage::Format_Alpha8).convertToFormat(QImage::Format_ARGB32);
    case PixelLayout::Gray8:
        return rows.convertToFormat(QImage::Format_Grayscale8);
    }
    return {};
}

} // namespace

QVector<EncoderInfo> pictureEncoders()
{
    QVector<EncoderInfo> list;
    for (const ContainerInfo &info : Containers) {
        const QString mime = QString::fromLatin1(info.mimeType);
        const QUuid clsid = QUuid::createUuidV5(
            QUuid(QStringLiteral("{6c7b3c8e-4f7a-4c55-9a43-0b4bb8f3d3a1}")), mime);
        list.append({clsid, mime, info.container});
    }
    return list;
}

bool encodePicture(PictureContainer container, PixelLayout layout, const QImage &rows,
                   const QString &path)
{
    if (rows.isNull() || path.isEmpty()) return false;
    const char *writerFormat = nullptr;
    for (const ContainerInfo &info : Containers) {
        if (info.container == container) writerFormat = info.writerFormat;
    }
    if (!writerFormat) return false;
    const QImage picture = fromLayout(layout, rows);
    if (picture.isNull()) return false;

    // Encoded in memory first: Qt's TIFF writer does not notice a failed write to a file and
    // would leave a truncated picture to be committed.
    QByteArray bytes;
    if (!encodeImage(picture, writerFormat, container == PictureContainer::Jpeg ? JpegQuality : -1,
                     &bytes))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace platform
