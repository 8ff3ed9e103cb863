#pragma once

#include <QImage>
#include <QString>

namespace platform {

// A new version of a file, written beside it under a temporary name and put in its place in
// one step (rename), so that a failed write, a full disk or a killed process leaves the old
// file byte for byte. The temporary file is removed unless commit() succeeded.
class StagedFile
{
public:
    explicit StagedFile(const QString &target);
    ~StagedFile();

    StagedFile(const StagedFile &) = delete;
    StagedFile &operator=(const StagedFile &) = delete;

    // Whether the temporary file could be created.
    bool isValid() const { return !m_staging.isEmpty(); }
    // Where to write the new version.
    QString stagingPath() const { return m_staging; }
    // Flushes the new version to disk and renames it over the target; an existing target's
    // permissions are kept, a new file gets the usual ones (0666 less the umask).
    bool commit();

private:
    QString m_target;
    QString m_staging;
    bool m_committed = false;
};

// Encodes `image` into memory. Qt's writers do not all notice a failed write to a file (a
// TIFF can come out truncated and "written"), so pictures are encoded first and the bytes
// written with every write checked.
bool encodeImage(const QImage &image, const char *format, int quality, QByteArray *out);

// Writes `bytes` as the whole content of `path` (a staging file); false on any error.
bool writeWholeFile(const QString &path, const QByteArray &bytes);

// QImage::save(path, format, quality), through a staged file.
bool saveImageAtomically(const QImage &image, const QString &path, const char *format, int quality);

} // namespace platform
