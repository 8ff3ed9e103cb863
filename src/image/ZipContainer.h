#pragma once

#include <QDateTime>
#include <QString>
#include <QVector>

#include <memory>

class QIODevice;

// Result codes of the zip container reader; 0 is success.
enum ZipResult : quint32 {
    ZipOk = 0x00000,
    ZipOpenFailed = 0x00200, // the file cannot be opened or holds no zip directory
    ZipMore = 0x00600,       // the buffer is full and the entry holds more bytes
    ZipCorrupt = 0x00700,    // the entry's data fail to inflate or their checksum is wrong
    ZipReadError = 0x00800,  // the entry cannot be read
    ZipTooLarge = 0x00900,   // the entry claims more bytes than its stored data can hold
    ZipArgs = 0x10000,       // an index or buffer that does not fit the container
    ZipNotForReading = 0x80000,
};

// One entry of a container, as its directory describes it.
struct ZipEntry
{
    static constexpr int kMaxName = 260; // UTF-16 units kept of a name

    int index = -1;
    QString name;           // cleaned: never climbs out of a destination folder
    quint32 attributes = 0; // DOS attribute bits (0x01 read-only, 0x10 folder, 0x20 archive)
    QDateTime accessTime;   // zip keeps one time: all three are the modification time
    QDateTime creationTime;
    QDateTime modificationTime;
    quint32 compressedSize = 0;   // saturated at 0xFFFFFFFF for larger entries
    quint32 uncompressedSize = 0; // as the directory claims it
};

// Reads the directory and single entries of a zip container through minizip. The
// container stays open for the life of the object.
class ZipContainer
{
public:
    ZipContainer();
    ~ZipContainer();
    ZipContainer(const ZipContainer &) = delete;
    ZipContainer &operator=(const ZipContainer &) = delete;

    // Opens the container at path and reads its whole directory. The directory must be
    // complete: a container whose directory cannot be walked to its end is refused.
    ZipResult open(const QString &path);
    // The same over a seekable device, which must outlive the container's use.
    ZipResult open(QIODevice *device);
    bool isOpen() const;
    int count() const;

    // Entry index into entry; -1 describes the container (index is the entry count).
    ZipResult entry(int index, ZipEntry *entry) const;

    // Inflates entry index into buffer (length bytes). written receives the bytes stored.
    // ZipMore when the entry holds more than length bytes. An entry that claims more than
    // its compressed data can expand to is refused before anything is read.
    ZipResult extract(int index, char *buffer, quint64 length, quint64 *written = nullptr);

    // The uncompressed size an entry may really have: its claim, checked against the
    // container's length and the most that its compression method can expand to.
    // Returns false when the claim cannot be true.
    bool plausibleSize(int index, quint64 *size) const;

    // Cleans a stored name until no rule applies: a drive prefix, a leading separator,
    // and everything up to a climbing "..", so that it stays inside a destination folder.
    static QString cleanName(QString name);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
