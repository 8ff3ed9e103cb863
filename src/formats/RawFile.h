#pragma once

#include "RawPreviewFinder.h"
#include "RawShootingData.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>

namespace raw {

class PreviewLibRaw;
class BudgetedStream;

// The suffixes of camera raw files: "crw", "cr2", "cr3", "arw", "nef", "raf", "dng", "pef",
// "orf", "mrw", "x3f", "rw2".
QStringList rawSuffixes();
// Whether `suffix` (in any case) is one of them.
bool isRawSuffix(const QString &suffix);

// The size of the picture made from sensor data of `working` size: with a SuperCCD layout
// (`fujiWidth` non-zero) the working picture is turned back by 45 degrees, and pixels whose
// `pixelAspect` is not 1 are made square.
QSize pictureSize(const QSize &working, int fujiWidth, double pixelAspect);

// A camera raw file opened for its embedded preview. LibRaw reads the file's structure,
// picture size and shooting data and hands over the preview the camera embedded; the sensor
// data is never decoded. When LibRaw refuses a file that the caller knows to be a raw file
// (newer DNG versions and cameras than the installed LibRaw knows), the largest embedded JPEG
// preview is found by walking the file's TIFF structure instead.
//
// LibRaw's state is not shared: each RawFile has its own instance, used by one thread at a
// time.
class RawFile
{
public:
    RawFile();
    ~RawFile();
    RawFile(const RawFile &) = delete;
    RawFile &operator=(const RawFile &) = delete;

    // Opens the file at `path` (local file-system path) with LibRaw; with `fallback`, a file
    // that LibRaw refuses is still opened when it holds a JPEG preview.
    bool open(const QString &path, bool fallback);
    bool isOpen() const { return m_libRaw || m_opened; }
    // Whether LibRaw refused the file and it was read by the walk.
    bool usesFallback() const { return !m_libRaw && m_opened; }

    // The camera's picture size (on the fallback path what the file's structure states: the
    // sensor data's IFD, Canon's IFD0 or image record; else the preview's own size).
    QSize size() const { return m_size; }
    // The shooting-data summary.
    QString description() const { return m_description; }
    // The embedded preview's size as the file states it; invalid when unknown.
    QSize previewSize() const { return m_previewSize; }

    // Decodes the embedded preview: LibRaw's, else the largest of the walk's that decodes,
    // else the walk's uncompressed thumbnail. Null when none decodes.
    QImage preview();

private:
    // The summary text of LibRaw's shooting data, one "Name: value" line per item.
    QString describe() const;
    // The preview where LibRaw says it lies, read and decoded here.
    QImage libRawPreview();
    // Opens the file through the walk over its structure; with `isoBaseMediaWithPreview`,
    // only an ISO base media file (CR3) in which the walk finds a preview.
    bool walk(bool isoBaseMediaWithPreview);

    std::unique_ptr<BudgetedStream> m_stream; // what m_libRaw reads, so it goes after it
    std::unique_ptr<PreviewLibRaw> m_libRaw;
    QString m_path;
    bool m_mayFallBack = false;
    bool m_opened = false; // by the walk
    bool m_walked = false;
    Previews m_previews;
    ShootingData m_walkedShooting;
    QSize m_size;
    QSize m_previewSize;
    QString m_description;
};

} // namespace raw
