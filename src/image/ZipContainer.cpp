#include "ZipContainer.h"

#include <QFile>
#include <QFileInfo>

#include <limits>

#include <minizip/unzip.h>

#include <memory>

namespace {

// minizip reads through these, from the device the container was opened on.
voidpf ZCALLBACK deviceOpen(voidpf opaque, const void *, int)
{
    return opaque;
}

uLong ZCALLBACK deviceRead(voidpf, voidpf stream, void *buffer, uLong size)
{
    const qint64 got =
        static_cast<QIODevice *>(stream)->read(static_cast<char *>(buffer), qint64(size));
    return got < 0 ? 0 : uLong(got);
}

uLong ZCALLBACK deviceWrite(voidpf, voidpf, const void *, uLong)
{
    return 0;
}

ZPOS64_T ZCALLBACK deviceTell(voidpf, voidpf stream)
{
    return ZPOS64_T(static_cast<QIODevice *>(stream)->pos());
}

long ZCALLBACK deviceSeek(voidpf, voidpf stream, ZPOS64_T offset, int origin)
{
    auto *device = static_cast<QIODevice *>(stream);
    qint64 base = 0;
    if (origin == ZLIB_FILEFUNC_SEEK_CUR)
        base = device->pos();
    else if (origin == ZLIB_FILEFUNC_SEEK_END)
        base = device->size();
    if (offset > ZPOS64_T(std::numeric_limits<qint64>::max() - base)) return -1;
    const qint64 target = base + qint64(offset);
    return target <= device->size() && device->seek(target) ? 0 : -1;
}

int ZCALLBACK deviceClose(voidpf, voidpf)
{
    return 0;
}

int ZCALLBACK deviceError(voidpf, voidpf)
{
    return 0;
}

// One directory record is at least this long; the entry count is bounded by it.
constexpr qint64 kMinDirectoryRecord = 46;
// Deflate expands a byte to at most this many (a run of one byte repeated).
constexpr quint64 kMaxDeflateRatio = 1032;
constexpr quint16 kUtf8NameFlag = 0x0800;
constexpr int kStored = 0;
constexpr int kDeflated = 8;

QDateTime timeOf(const tm_unz &t)
{
    const QDate date(int(t.tm_year), int(t.tm_mon) + 1, int(t.tm_mday));
    const QTime time(int(t.tm_hour), int(t.tm_min), int(t.tm_sec));
    return QDateTime(date, time, Qt::LocalTime);
}

quint32 attributesOf(const unz_file_info64 &info)
{
    const int madeBy = int(info.version >> 8);
    if (madeBy != 3 && madeBy != 19) // not Unix or OS X: DOS attribute bits as stored
        return quint32(info.external_fa & 0xff);
    const quint32 mode = quint32(info.external_fa >> 16);
    quint32 attributes = (mode & 0170000) == 0040000 ? 0x10 : 0x20;
    if (!(mode & 0200)) attributes |= 0x01;
    return attributes;
}

quint32 saturated(quint64 value)
{
    return value > 0xffffffffu ? 0xffffffffu : quint32(value);
}

} // namespace

struct ZipContainer::Private
{
    std::unique_ptr<QFile> ownFile;
    QIODevice *device = nullptr;
    unzFile file = nullptr;
    qint64 fileSize = 0;
    QVector<ZipEntry> entries;
    QVector<unz64_file_pos> positions;
    QVector<quint64> realCompressed; // 64-bit sizes as stored
    QVector<quint64> realUncompressed;
    QVector<int> methods;

    void close()
    {
        if (file) unzClose(file);
        file = nullptr;
        entries.clear();
        positions.clear();
        realCompressed.clear();
        realUncompressed.clear();
        methods.clear();
        device = nullptr;
        ownFile.reset();
    }
};

ZipContainer::ZipContainer() : d(new Private) {}

ZipContainer::~ZipContainer()
{
    d->close();
}

QString ZipContainer::cleanName(QString name)
{
    for (bool changed = true; changed;) {
        changed = false;
        if (name.size() >= 2 && name.at(1) == QLatin1Char(':')) {
            name.remove(0, 2);
            changed = true;
            continue;
        }
        if (name.startsWith(QLatin1Char('\\')) || name.startsWith(QLatin1Char('/'))) {
            name.remove(0, 1);
            changed = true;
            continue;
        }
        for (const char *climb : {"\\..\\", "\\../", "/../", "/..\\"}) {
            const int at = name.indexOf(QLatin1String(climb));
            if (at >= 0) {
                name.remove(0, at + 4);
                changed = true;
                break;
            }
        }
        if (changed) continue;
        // A name that starts by climbing has no separator before its "..".
        if (name.startsWith(QLatin1String("../")) || name.startsWith(QLatin1String("..\\"))) {
            name.remove(0, 3);
            changed = true;
        } else if (name == QLatin1String("..")) {
            name.clear();
        }
    }
    return name;
}

ZipResult ZipContainer::open(const QString &path)
{
    d->close();
    auto file = std::make_unique<QFile>(path);
    if (!QFileInfo(path).isFile() || !file->open(QIODevice::ReadOnly)) return ZipOpenFailed;
    const ZipResult result = open(file.get());
    if (result == ZipOk) d->ownFile = std::move(file);
    return result;
}

ZipResult ZipContainer::open(QIODevice *device)
{
    d->close();
    if (!device || !device->isReadable() || device->isSequential()) return ZipOpenFailed;
    d->device = device;
    d->fileSize = device->size();
    zlib_filefunc64_def functions = {deviceOpen, deviceRead,  deviceWrite, deviceTell,
                                     deviceSeek, deviceClose, deviceError, device};
    d->file = unzOpen2_64("", &functions);
    if (!d->file) {
        d->close();
        return ZipOpenFailed;
    }

    unz_global_info64 global = {};
    if (unzGetGlobalInfo64(d->file, &global) != UNZ_OK ||
        qint64(global.number_entry) > d->fileSize / kMinDirectoryRecord) {
        d->close();
        return ZipOpenFailed;
    }
    const int claimed = int(global.number_entry);
    d->entries.reserve(claimed);
    QByteArray name(0x10000, Qt::Uninitialized);
    int status = unzGoToFirstFile(d->file);
    while (status == UNZ_OK) {
        unz_file_info64 fileInfo = {};
        if (d->entries.size() >= claimed ||
            unzGetCurrentFileInfo64(d->file, &fileInfo, name.data(), uLong(name.size()), nullptr, 0,
                                    nullptr, 0) != UNZ_OK)
            break;
        unz64_file_pos position = {};
        if (unzGetFilePos64(d->file, &position) != UNZ_OK) break;
        const int nameLength = int(qMin<quint64>(fileInfo.size_filename, quint64(name.size())));
        const QByteArray stored = QByteArray(name.constData(), nameLength);
        QString text = (fileInfo.flag & kUtf8NameFlag) ? QString::fromUtf8(stored)
                                                       : QString::fromLocal8Bit(stored);
        text.truncate(ZipEntry::kMaxName - 1);

        ZipEntry entry;
        entry.index = d->entries.size();
        entry.name = cleanName(text);
        entry.attributes = attributesOf(fileInfo);
        entry.modificationTime = timeOf(fileInfo.tmu_date);
        entry.accessTime = entry.creationTime = entry.modificationTime;
        entry.compressedSize = saturated(fileInfo.compressed_size);
        entry.uncompressedSize = saturated(fileInfo.uncompressed_size);
        d->entries << entry;
        d->positions << position;
        d->realCompressed << fileInfo.compressed_size;
        d->realUncompressed << fileInfo.uncompressed_size;
        d->methods << int(fileInfo.compression_method);
        status = unzGoToNextFile(d->file);
    }
    if (status != UNZ_END_OF_LIST_OF_FILE || d->entries.size() != claimed) {
        d->close(); // the directory is corrupt or does not hold what it claims
        return ZipOpenFailed;
    }
    return ZipOk;
}

bool ZipContainer::isOpen() const
{
    return d->file != nullptr;
}

int ZipContainer::count() const
{
    return d->entries.size();
}

ZipResult ZipContainer::entry(int index, ZipEntry *entry) const
{
    if (!entry || index < -1 || index >= d->entries.size()) return ZipArgs;
    if (index == -1) {
        *entry = ZipEntry();
        entry->index = d->entries.size();
        return ZipOk;
    }
    *entry = d->entries.at(index);
    return ZipOk;
}

bool ZipContainer::plausibleSize(int index, quint64 *size) const
{
    if (index < 0 || index >= d->entries.size()) return false;
    const quint64 compressed = d->realCompressed.at(index);
    const quint64 claimed = d->realUncompressed.at(index);
    if (compressed > quint64(d->fileSize)) return false;
    quint64 most = 0;
    if (d->methods.at(index) == kStored)
        most = compressed;
    else if (d->methods.at(index) == kDeflated)
        most = compressed * kMaxDeflateRatio + 16;
    else
        return false; // a method this reader cannot inflate
    if (claimed > most) return false;
    if (size) *size = claimed;
    return true;
}

ZipResult ZipContainer::extract(int index, char *buffer, quint64 length, quint64 *written)
{
    if (written) *written = 0;
    if (!d->file) return ZipNotForReading;
    if (index < 0 || index >= d->entries.size() || (!buffer && length > 0)) return ZipArgs;
    if (!plausibleSize(index, nullptr)) return ZipTooLarge;

    unz64_file_pos position = d->positions.at(index);
    if (unzGoToFilePos64(d->file, &position) != UNZ_OK) return ZipReadError;
    if (unzOpenCurrentFilePassword(d->file, nullptr) != UNZ_OK) return ZipReadError;

    ZipResult result = ZipOk;
    quint64 done = 0;
    while (done < length) {
        const unsigned chunk = unsigned(qMin<quint64>(length - done, 1u << 20));
        const int got = unzReadCurrentFile(d->file, buffer + done, chunk);
        if (got < 0) {
            result = got == UNZ_ERRNO ? ZipReadError : ZipCorrupt;
            break;
        }
        if (got == 0) break;
        done += quint64(got);
    }
    if (result == ZipOk && done == length) {
        char probe = 0;
        const int more = unzReadCurrentFile(d->file, &probe, 1);
        if (more > 0)
            result = ZipMore;
        else if (more < 0)
            result = ZipCorrupt;
    }
    const int closed = unzCloseCurrentFile(d->file);
    if (result == ZipOk && closed == UNZ_CRCERROR) result = ZipCorrupt;
    if (result == ZipOk && done != d->realUncompressed.at(index)) result = ZipCorrupt;
    if (written) *written = done;
    return result;
}
