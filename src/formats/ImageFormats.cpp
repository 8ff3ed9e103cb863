#include "ImageFormats.h"

#include "platform/PictureReaders.h"

#include <QFile>
#include <QFileInfo>

namespace {
constexpr int BmpPng = FormatCanSave | FormatFlag10;
constexpr int JpegFamily = FormatCanSave | FormatHasExif | FormatScaledDecode | FormatFlag10;
} // namespace

ImageFormats::ImageFormats() : m_formats(Count, nullptr), m_unknown(new ImageFormat)
{
    const QString jpeg = tr("JPEG File Interchange Format");
    const QString tiff = tr("Tag Image File Format");
    const QString svg = tr("Scalable Vector Graphics");
    const QString raw = tr("RAW");
    const QString ppm = tr("PPM");
    const QString wbmp = tr("WBMP");

    addFormat(FormatBmp, BmpPng, tr("Bitmap"), QStringLiteral("bmp"));
    addFormat(FormatJpg, JpegFamily, jpeg, QStringLiteral("jpg"));
    addFormat(FormatJpeg, JpegFamily, jpeg, QStringLiteral("jpeg"));
    addFormat(FormatJpe, JpegFamily, jpeg, QStringLiteral("jpe"));
    addFormat(FormatTbi, JpegFamily, jpeg, QStringLiteral("tbi"));
    addFormat(FormatJfif, JpegFamily, jpeg, QStringLiteral("jfif"));
    addFormat(FormatPng, BmpPng, tr("Portable Network Graphics"), QStringLiteral("png"));
    addFormat(FormatGif, FormatMultiFrame | FormatFlag10, tr("Graphics Interchange Format"),
              QStringLiteral("gif"));
    addFormat(FormatTif, FormatCanSave, tiff, QStringLiteral("tif"));
    addFormat(FormatTiff, FormatCanSave, tiff, QStringLiteral("tiff"));
    addFormat(FormatIco, 0, tr("ICO"), QStringLiteral("ico"));
    addFormat(FormatPsd, 0, tr("PhotoShop Document"), QStringLiteral("psd"));
    addFormat(FormatPsb, 0, tr("PhotoShop Big file"), QStringLiteral("psb"));
    addFormat(FormatTga, 0, tr("Truevision Graphics Adapter file"), QStringLiteral("tga"));
    addFormat(FormatSvg, 0, svg, QStringLiteral("svg"));
    addFormat(FormatSvgz, 0, svg, QStringLiteral("svgz"));
    addFormat(FormatXbm, FormatCanSave, tr("X11 Bitmap"), QStringLiteral("xbm"));
    addFormat(FormatXpm, FormatCanSave, tr("X11 Pixmap"), QStringLiteral("xpm"));
    addFormat(FormatWdp, 0, tr("Windows Media Photo"), QStringLiteral("wdp"));
    addFormat(FormatCrw, 0, raw, QStringLiteral("crw"));
    addFormat(FormatCr2, 0, raw, QStringLiteral("cr2"));
    addFormat(FormatCr3, 0, raw, QStringLiteral("cr3"));
    addFormat(FormatArw, 0, raw, QStringLiteral("arw"));
    addFormat(FormatNef, 0, raw, QStringLiteral("nef"));
    addFormat(FormatRaf, 0, raw, QStringLiteral("raf"));
    addFormat(FormatDng, 0, raw, QStringLiteral("dng"));
    addFormat(FormatPef, 0, raw, QStringLiteral("pef"));
    addFormat(FormatOrf, 0, raw, QStringLiteral("orf"));
    addFormat(FormatMrw, 0, raw, QStringLiteral("mrw"));
    addFormat(FormatX3f, 0, raw, QStringLiteral("x3f"));
    addFormat(FormatRw2, 0, raw, QStringLiteral("rw2"));
    addFormat(FormatWebp, FormatMultiFrame, tr("WEBP"), QStringLiteral("webp"));
    addFormat(FormatWmf, 0, tr("Windows Metafile"), QStringLiteral("wmf"));
    addFormat(FormatEmf, 0, tr("Enhanced Metafile"), QStringLiteral("emf"));
    addFormat(FormatXmind, 0, tr("XMIND"), QStringLiteral("xmind"));
    addFormat(FormatPcx, 0, tr("PCX"), QStringLiteral("pcx"));
    addFormat(FormatPpm, 0, ppm, QStringLiteral("ppm"));
    addFormat(FormatPbm, 0, ppm, QStringLiteral("pbm"));
    addFormat(FormatPgm, 0, ppm, QStringLiteral("pgm"));
    addFormat(FormatRas, 0, tr("RAS"), QStringLiteral("ras"));
    // "wap" is made before "wbmp"; the slots keep their fixed numbers.
    addFormat(FormatWap, 0, wbmp, QStringLiteral("wap"));
    addFormat(FormatWbmp, 0, wbmp, QStringLiteral("wbmp"));
    addFormat(FormatWbm, 0, wbmp, QStringLiteral("wbm"));
    addFormat(FormatHeic, 0, tr("HEIC"), QStringLiteral("heic"));
    addFormat(FormatAi, 0, tr("AI"), QStringLiteral("ai"));
}

ImageFormats::~ImageFormats()
{
    qDeleteAll(m_formats);
    delete m_unknown;
}

void ImageFormats::addFormat(ImageFormatEnum id, int flags, const QString &description,
                             const QString &suffix)
{
    auto *format = new ImageFormat{id, flags, description, QStringList{suffix}};
    m_formats[id] = format;
    for (const QString &s : qAsConst(format->suffixes))
        m_suffixes.insert(s, id);
}

ImageFormat *ImageFormats::formatForSuffix(const QString &suffix) const
{
    const auto it = m_suffixes.constFind(suffix.toLower());
    return it == m_suffixes.cend() ? m_unknown : formatForId(it.value());
}

ImageFormat *ImageFormats::formatForId(int id) const
{
    if (static_cast<unsigned>(id) >= static_cast<unsigned>(Count) || !m_formats.at(id))
        return m_unknown;
    return m_formats.at(id);
}

QStringList ImageFormats::openableNameFilters() const
{
    QStringList filters;
    for (const ImageFormat *format : m_formats) {
        if (!format) continue;
        const int id = format->id;
        const bool ownBackEnd = id == FormatGif || id == FormatSvg || id == FormatSvgz ||
                                id == FormatWmf || id == FormatEmf || id == FormatXmind ||
                                isRawFormat(id);
        for (const QString &suffix : format->suffixes)
            if (ownBackEnd || platform::pictureReaders::readsSuffix(suffix.toLatin1()))
                filters << QStringLiteral("*.") + suffix;
    }
    return filters;
}

QString ImageFormats::contentSuffix(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray reader =
        platform::pictureReaders::choose(&file, QFileInfo(path).suffix().toLatin1());
    return QString::fromLatin1(platform::pictureReaders::formatName(reader));
}

QString ImageFormats::refusalText(const QString &path)
{
    const platform::pictureReaders::Refusal refusal = platform::pictureReaders::diagnose(path);
    const QString format = QString::fromLatin1(refusal.format).toUpper();
    const QString prefix = format.isEmpty() ? QString() : format + QStringLiteral(": ");
    return refusal.claimed ? prefix + QStringLiteral("damaged (%1)").arg(refusal.reason)
                           : prefix + QStringLiteral("format not supported");
}

QStringList ImageFormats::nameFilters() const
{
    QStringList filters;
    for (const ImageFormat *format : m_formats) {
        if (!format) continue;
        for (const QString &suffix : format->suffixes)
            filters << QStringLiteral("*.") + suffix;
    }
    return filters;
}
