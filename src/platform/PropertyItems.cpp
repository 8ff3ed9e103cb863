#include "platform/PropertyItems.h"

#include "platform/Exiv2Lock.h"
#include "platform/decoders/HeifHandler.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QTemporaryFile>

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace platform {

// Exiv2 keeps process-wide tables and a log handler; reads and writes go through one lock,
// and its messages (warnings about broken files) are switched off: the library writes no
// log.
QMutex &exiv2Lock()
{
    static QMutex lock;
    static const bool ready = [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::LogMsg::setHandler(nullptr);
        Exiv2::XmpParser::initialize();
        return true;
    }();
    Q_UNUSED(ready);
    return lock;
}

bool exiv2ReadsAsPicture(const std::string &path)
{
    // The numbers of Exiv2's video types (riff, mkv, qtime, asf): their headers are only
    // included when Exiv2 is built with video support.
    constexpr int riff = 20, matroska = 21, quickTime = 22, asf = 24;
    try {
        const int type = Exiv2::ImageFactory::getType(path);
        return type != riff && type != matroska && type != quickTime && type != asf;
    } catch (...) {
        return false;
    }
}

namespace {

// The identifiers the thumbnail's directory (IFD1) is known by to the picture model.
quint32 thumbnailItemId(quint16 tag)
{
    switch (tag) {
    case 0x0100:
        return 0x5020; // image width
    case 0x0101:
        return 0x5021; // image height
    case 0x0102:
        return 0x5022; // bits per sample
    case 0x0103:
        return 0x5023; // compression
    case 0x0106:
        return 0x5024; // photometric interpretation
    case 0x010E:
        return 0x5025; // image description
    case 0x010F:
        return 0x5026; // make
    case 0x0110:
        return 0x5027; // model
    case 0x0111:
        return 0x5028; // strip offsets
    case 0x0112:
        return 0x5029; // orientation
    case 0x0115:
        return 0x502A; // samples per pixel
    case 0x0116:
        return 0x502B; // rows per strip
    case 0x0117:
        return 0x502C; // strip byte counts
    case 0x011A:
        return 0x502D; // x resolution
    case 0x011B:
        return 0x502E; // y resolution
    case 0x011C:
        return 0x502F; // planar configuration
    case 0x0128:
        return 0x5030; // resolution unit
    case 0x012D:
        return 0x5031; // transfer function
    case 0x0131:
        return 0x5032; // software
    case 0x0132:
        return 0x5033; // date and time
    case 0x013B:
        return 0x5034; // artist
    case 0x013E:
        return 0x5035; // white point
    case 0x013F:
        return 0x5036; // primary chromaticities
    case 0x0211:
        return 0x5037; // YCbCr coefficients
    case 0x0212:
        return 0x5038; // YCbCr sub-sampling
    case 0x0213:
        return 0x5039; // YCbCr positioning
    case 0x0214:
        return 0x503A; // reference black and white
    case 0x8298:
        return 0x503B; // copyright
    default:
        return 0;
    }
}

bool isMainGroup(const std::string &group)
{
    return group == "Image" || group == "Photo" || group == "GPSInfo" || group == "Iop";
}

QByteArray valueBytes(const Exiv2::Exifdatum &datum)
{
    const long size = datum.size();
    if (size <= 0) return {};
    QByteArray bytes(int(size), '\0');
    datum.copy(reinterpret_cast<Exiv2::byte *>(bytes.data()), Exiv2::littleEndian);
    return bytes;
}

std::string nativePath(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

// The key an item is written under; empty for items that cannot be written.
const char *writableKey(quint32 id)
{
    switch (id) {
    case 0x0112:
        return "Exif.Image.Orientation";
    case 0x5029:
        return "Exif.Thumbnail.Orientation";
    case 0xA002:
        return "Exif.Photo.PixelXDimension";
    case 0xA003:
        return "Exif.Photo.PixelYDimension";
    default:
        return nullptr;
    }
}

bool setItem(Exiv2::ExifData &exif, const PropertyItem &item)
{
    const char *key = writableKey(item.id);
    if (!key || item.value.isEmpty()) return false;
    const auto *bytes = reinterpret_cast<const uchar *>(item.value.constData());
    const int size = item.value.size();
    switch (item.type) {
    case 3:
        if (size < 2) return false;
        exif[key] = Exiv2::UShortValue(quint16(bytes[0] | bytes[1] << 8));
        return true;
    case 4:
        if (size < 4) return false;
        exif[key] = Exiv2::ULongValue(quint32(bytes[0] | bytes[1] << 8 | bytes[2] << 16) |
                                      quint32(bytes[3]) << 24);
        return true;
    case 9:
        if (size < 4) return false;
        exif[key] = Exiv2::LongValue(
            qint32(quint32(bytes[0] | bytes[1] << 8 | bytes[2] << 16) | quint32(bytes[3]) << 24));
        return true;
    default:
        return false;
    }
}

// The items of parsed EXIF data, in its order.
QVector<PropertyItem> itemsOf(const Exiv2::ExifData &exif)
{
    QVector<PropertyItem> items;
    for (auto it = exif.begin(); it != exif.end(); ++it) {
        const std::string group = it->groupName();
        PropertyItem item;
        item.type = quint16(it->typeId());
        if (isMainGroup(group)) {
            item.id = it->tag();
            item.value = valueBytes(*it);
        } else if (group == "Thumbnail" && it->tag() == 0x0201) {
            // The thumbnail's offset stands in the file where its bytes are delivered.
            const Exiv2::DataBuf data = Exiv2::ExifThumbC(exif).copy();
            if (data.size_ <= 0) continue;
            item.id = 0x501B;
            item.type = 1;
            item.value = QByteArray(reinterpret_cast<const char *>(data.pData_), int(data.size_));
        } else if (group == "Thumbnail" && thumbnailItemId(it->tag())) {
            item.id = thumbnailItemId(it->tag());
            item.value = valueBytes(*it);
        } else {
            continue;
        }
        items.append(item);
    }
    return items;
}

// A HEIF file's items are those of its primary image's EXIF block, which libheif finds.
// Its orientation item is left out: libheif has already turned the pixels by the file's
// own transformations, which are the ones that count.
QVector<PropertyItem> heifItems(const QByteArray &block)
{
    Exiv2::ExifData exif;
    Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte *>(block.constData()),
                              uint32_t(block.size()));
    QVector<PropertyItem> items = itemsOf(exif);
    items.erase(std::remove_if(items.begin(), items.end(),
                               [](const PropertyItem &item) { return item.id == 0x0112; }),
                items.end());
    return items;
}

} // namespace

QVector<PropertyItem> readPropertyItems(const QString &path)
{
    QByteArray heifBlock;
    bool heif = false;
    {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly) && decoders::HeifHandler::canRead(&file)) {
            heif = true;
            heifBlock = decoders::heifExif(&file);
        }
    }
    QMutexLocker locker(&exiv2Lock());
    try {
        if (heif) return heifBlock.isEmpty() ? QVector<PropertyItem>() : heifItems(heifBlock);
        if (!exiv2ReadsAsPicture(nativePath(path))) return {};
        auto image = Exiv2::ImageFactory::open(nativePath(path));
        if (!image.get()) return {};
        image->readMetadata();
        return itemsOf(image->exifData());
    } catch (const std::exception &) {
        return {};
    } catch (...) {
        return {};
    }
}

bool writePropertyItems(const QString &path, const QVector<PropertyItem> &items)
{
    const QFileInfo info(path);
    if (!info.isFile()) return false;
    // A copy in the same folder is changed and renamed over the file.
    QTemporaryFile copy(info.absolutePath() + QStringLiteral("/.picsage-XXXXXX"));
    if (!copy.open()) return false;
    {
        QFile original(path);
        if (!original.open(QIODevice::ReadOnly)) return false;
        while (!original.atEnd()) {
            const QByteArray chunk = original.read(1 << 20);
            if (chunk.isEmpty() || copy.write(chunk) != chunk.size()) return false;
        }
    }
    if (!copy.flush()) return false;
    {
        QMutexLocker locker(&exiv2Lock());
        try {
            if (!exiv2ReadsAsPicture(nativePath(copy.fileName()))) return false;
            auto image = Exiv2::ImageFactory::open(nativePath(copy.fileName()));
            if (!image.get()) return false;
            image->readMetadata();
            Exiv2::ExifData &exif = image->exifData();
            for (const PropertyItem &item : items) {
                if (!setItem(exif, item)) return false;
            }
            image->writeMetadata();
        } catch (...) {
            return false;
        }
    }
    copy.close();
    QFile::setPermissions(copy.fileName(), QFile::permissions(path));
    if (std::rename(QFile::encodeName(copy.fileName()).constData(),
                    QFile::encodeName(path).constData()) != 0)
        return false;
    copy.setAutoRemove(false);
    return true;
}

} // namespace platform
