#pragma once

#include "picsage_global.h"

#include <QMap>
#include <QObject>
#include <QStringList>
#include <QVector>

// Identifiers of the picture formats. The numbers are part of the exported interface
// (hosts store and pass them), so they stay as they are, hole at 35 included.
enum ImageFormatEnum : int {
    FormatUnknown = -1,
    FormatBmp = 0,
    FormatJpg,
    FormatJpeg,
    FormatJpe,
    FormatTbi,
    FormatJfif,
    FormatPng,
    FormatGif,
    FormatTif,
    FormatTiff,
    FormatIco = 10,
    FormatPsd,
    FormatPsb,
    FormatTga,
    FormatSvg,
    FormatSvgz,
    FormatXbm,
    FormatXpm,
    FormatWdp,
    FormatCrw,
    FormatCr2 = 20,
    FormatCr3,
    FormatArw,
    FormatNef,
    FormatRaf,
    FormatDng,
    FormatPef,
    FormatOrf,
    FormatMrw,
    FormatX3f,
    FormatRw2 = 30,
    FormatWebp,
    FormatWmf,
    FormatEmf,
    FormatXmind,
    FormatPcx = 36,
    FormatPpm,
    FormatPbm,
    FormatPgm,
    FormatRas = 40,
    FormatWbmp,
    FormatWap,
    FormatWbm,
    FormatHeic,
    FormatAi = 45,
};

enum ImageFormatFlag : int {
    FormatCanSave = 0x01,      // may be encoded and written (export, flips, rotate-and-save)
    FormatMultiFrame = 0x02,   // every frame is read with its delay
    FormatHasExif = 0x04,      // orientation items are written back after a turned save
    FormatScaledDecode = 0x08, // very large pictures may be decoded scaled to the screen
    FormatFlag10 = 0x10,       // for the host only; nothing here tests it
};

// One row of the format table, owned by the table that made it.
struct PICSAGE_EXPORT ImageFormat
{
    ImageFormatEnum id = FormatUnknown;
    int flags = 0;
    QString description;
    QStringList suffixes;
};

// The fixed table of picture formats: suffix -> row, identifier -> row. Immutable after
// construction, so concurrent reads are safe.
class PICSAGE_EXPORT ImageFormats : public QObject
{
    Q_OBJECT
public:
    static constexpr int Count = 46;

    ImageFormats();
    ~ImageFormats() override;

    // Never null: an unknown suffix (also "", or one with a leading dot) gives the unknown row.
    ImageFormat *formatForSuffix(const QString &suffix) const;
    // Never null: ids outside 0..45, and the empty slot 35, give the unknown row.
    ImageFormat *formatForId(int id) const;
    // "*.bmp" ... "*.ai" in id order, one per suffix.
    QStringList nameFilters() const;
    // The same for the suffixes that some reader, the raw reader or a back-end opens; a row
    // without one (JPEG XR on Linux) is left out. Decided by suffix: no file is opened.
    QStringList openableNameFilters() const;

    // The suffix of the row for what the file at `path` holds, as the library chooses its
    // reader (content first, then the file's suffix); "" when no reader claims it.
    static QString contentSuffix(const QString &path);
    // Why the file at `path` does not open: "PNG: format not supported" when no reader claims
    // its content (the suffix's format named), "BMP: damaged (...)" when the claiming reader
    // fails, with its reason.
    static QString refusalText(const QString &path);

    static bool isJpegFormat(int id) { return id >= FormatJpg && id <= FormatJfif; }
    static bool isRawFormat(int id) { return id >= FormatCrw && id <= FormatRw2; }
    static bool isTiffFormat(int id) { return id == FormatTif || id == FormatTiff; }

private:
    void addFormat(ImageFormatEnum id, int flags, const QString &description,
                   const QString &suffix);

    QVector<ImageFormat *> m_formats;
    QMap<QString, int> m_suffixes;
    ImageFormat *m_unknown;
};
