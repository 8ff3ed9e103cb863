#pragma once

#include "formats/ImageFormats.h"
#include "picsage_global.h"
#include "platform/PropertyItems.h"

#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QRect>
#include <QSharedPointer>
#include <QSize>
#include <QString>

#include <atomic>
#include <mutex>

class ImageBase;
class ImageDirectory;
class PixmapClipRoot;
class QPainter;
class RenderCache;

enum ImageStatus : int {
    ImageStatusNone = 0,
    ImageStatusLoading = 1,
    ImageStatusReady = 2,
    ImageStatusFailed = 3,
};

// A value the viewer assigns and reads back; the picture only keeps it.
enum ImageOpenRef : int {
    ImageOpenRefNone = 0,
};

// Where a turned picture goes.
enum SaveType : int {
    SaveRotateCopy = 0, // a new file beside the picture (" - Rotate (n)")
    SaveOverwrite = 1,  // back over the picture's own file
    SaveToPath = 2,     // the path the caller passes in
    SaveNone = 3,       // in memory only
};

// Which kind of back-end shows the picture.
enum ImageBackEndKind : int {
    BackEndNone = 0,
    BackEndRaster,   // ImagePixmap
    BackEndGif,      // ImageGif
    BackEndSvg,      // ImageSvg
    BackEndMetafile, // ImageGdi
};

// One picture of a folder, opened by the viewer: its EXIF data, the back-end that decodes
// and paints it, and the state the viewer polls. Shared through QSharedPointer, made by
// ImageDirectory::createImage.
//
// Threads: load() may run on a worker thread while another thread polls status(), ready()
// and isClipMode(); painting, editing and saving happen on the viewer's thread.
class PICSAGE_EXPORT ImageWrapper : public QObject
{
    Q_OBJECT
public:
    ImageWrapper();
    ~ImageWrapper() override;

    // Reads the EXIF data of dir's file `name`; false when the file cannot be read.
    bool init(QSharedPointer<ImageDirectory> dir, const QString &name);
    // Drops the back-end; EXIF data, thumbnail and sizes stay. A later load() loads again.
    void close();

    // Loads unless ready (serialised by the wrapper's mutex), then emits imageReady().
    void load();
    // Loads without locking or emitting; the argument is not used. Always true.
    bool load(const QString &);

    bool ready() const;
    ImageStatus status() const;
    void setStatus(ImageStatus status);
    ImageOpenRef openRef() const;
    void setOpenRef(ImageOpenRef ref);

    QString name() const;
    QString path() const;
    QString pathName() const;
    QString normalizedPathName() const;
    int index() const;
    QSharedPointer<ImageDirectory> directory() const;
    ImageFormat *format() const;
    ImageFormats *imgFormat() const;
    QSize imageSize(int frame) const;
    QSize originalSize() const;
    int frameCount() const;
    int delay(int frame) const;
    bool isAnimation() const;
    QImage imageAt(int frame, int width, int height) const;
    // The frame as the viewer shows it: turned and, for orientations 2, 4, 5 and 7, mirrored.
    QImage uprightImage(int frame) const;
    QPixmap pixmapAt(int frame, int width, int height) const;
    bool hasAlpha(int frame) const;
    bool hasThumbnail() const;
    // The thumbnail embedded in the file's EXIF data (null without one), as stored.
    QImage thumbnail() const;
    long orientation() const;
    long thumbnailOrientation() const;
    QDateTime timeStamp() const;
    bool dirty() const;
    bool isDirty() const;
    void setDirty(bool dirty);
    bool isClipMode() const;
    // Whether a very large picture may be decoded at screen size; takes effect at the next
    // load.
    void enableClipMode(bool enable);
    // For a caller that shows only the whole first picture at `box`'s size (upright pixels):
    // a still raster picture is then decoded fitted into the box, as cheaply as its codec
    // allows (a JPEG at its reduced scale), never in clip mode; raw files keep their preview.
    // An invalid size (the default, the viewer's) decodes as before. Takes effect at the
    // next load.
    void setDecodeBox(const QSize &box);
    QSize decodeBox() const;
    // `size` scaled to fit into `box` keeping its aspect ratio, at least 1x1.
    static QSize fitInto(const QSize &size, const QSize &box);
    // The kind of the current back-end; BackEndNone without one.
    ImageBackEndKind backEndKind() const;
    // The current back-end (null without one), for the library's own code.
    ImageBase *backEnd() const;
    // The file's metadata items, in file order.
    QVector<platform::PropertyItem> exifItems() const;

    // Draws the picture into `target` (painter coordinates); `visible` is the part of the
    // device on screen, `scale` target width over picture width.
    void paint(QPainter *painter, int frame, const QRect &target, const QRect &visible,
               double scale, RenderCache *cache);
    // The smooth rendering for the viewer's cache thread.
    void paintCache(QImage &out, int frame, QRect target, long orientation, QSize view);

    // Editing and saving.
    bool rotate(bool clockwise, QString &path, SaveType type);
    bool canRotate(bool withSaving) const;
    bool horizonFlip(const QString &path);
    bool verticalFlip(const QString &path);
    bool crop(const QRect &rect);
    void resize(int width, int height, Qt::TransformationMode mode);
    void setImage(const QImage &image);
    bool save();
    bool save(const QString &path);
    bool save(QString path, int maxWidth, int maxHeight, int quality, ImageFormatEnum format);
    bool saveAs(const QString &path, bool);
    bool copyFile(const QString &path, bool overwrite);
    bool convertImageFormat(const ImageFormat *row, const QString &path);
    bool canDelete() const;

Q_SIGNALS:
    // After every load(), whether or not anything was loaded; from the loading thread.
    void imageReady();

private:
    friend class ImageBase;

    void _load();
    bool getExifData(const QString &path);
    void _rotate(bool clockwise);
    QString createRotatePathName();
    void _rotateExif(const ImageFormat *row, const QString &path, long orientation,
                     long thumbnailOrientation);
    // Writes frame 0 shown upright and mirrored, with the picture's metadata, to `path`.
    bool writeMirrored(const QString &path, bool horizontal);
    void translateByExif(QPainter *painter, int &width, int &height, int orientation);

    QString m_name;
    QString m_normalizedPathName;
    ImageFormat *m_format;
    QImage m_thumbnail;
    std::atomic<bool> m_ready{false};
    std::atomic<int> m_status{ImageStatusNone};
    std::atomic<int> m_openRef{ImageOpenRefNone};
    QSharedPointer<ImageDirectory> m_directory;
    // Serialises load(); std::mutex rather than QMutex so that ThreadSanitizer sees the
    // hand-over from one loading thread to the next.
    std::mutex m_mutex;
    QDateTime m_timeStamp;
    PixmapClipRoot *m_clipRoot = nullptr;
    QSize m_originalSize;
    std::atomic<bool> m_isClipMode{false};
    bool m_clipAllowed = true;
    QSize m_decodeBox;
    bool m_dirty = false;
    int m_orientation = 1;
    int m_thumbnailOrientation = 1;
    ImageBase *m_backEnd = nullptr;
    // Linux keeps the items as values instead of GDI+'s malloc'ed record buffer.
    QVector<platform::PropertyItem> m_exifItems;
    ImageFormats *m_imageFormats;
};
