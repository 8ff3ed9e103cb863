#include "platform/decoders/ReaderTable.h"

#include "platform/decoders/BmpHandler.h"
#include "platform/decoders/HeifHandler.h"
#include "platform/decoders/IllustratorHandler.h"
#include "platform/decoders/NetpbmHandler.h"
#include "platform/decoders/PcxHandler.h"
#include "platform/decoders/SunRasterHandler.h"
#include "platform/decoders/TgaHandler.h"
#include "platform/decoders/TiffHandler.h"
#include "platform/decoders/WbmpHandler.h"

#include <QIODevice>

namespace platform::decoders {

namespace {

// A reader's reason for a refusal reaches QImageReader::text("Damage") through the
// description option, whichever reader it is.
template <class Handler> class Reporting : public Handler
{
public:
    bool supportsOption(QImageIOHandler::ImageOption option) const override
    {
        return option == QImageIOHandler::Description || Handler::supportsOption(option);
    }
    QVariant option(QImageIOHandler::ImageOption option) const override
    {
        if (option != QImageIOHandler::Description) return Handler::option(option);
        const QString reason = Handler::errorText();
        return reason.isEmpty() ? QVariant() : QVariant(QStringLiteral("Damage: ") + reason);
    }
};

template <class Handler> QImageIOHandler *make()
{
    return new Reporting<Handler>;
}

// One row per reader. Its key must also be listed in readers.json, which names the keys
// QImageReader asks the plug-in for.
//   {key, suffixes, &Handler::canRead, &make<Handler>, strong signature?}
// Strong: the content alone decides; weak or header-only formats are tried after Qt's guess.
const ReaderRow Rows[] = {
    {"picsage-bmp", "bmp dib", &BmpHandler::canRead, &make<BmpHandler>, true},
    {"picsage-tga", "tga", &TgaHandler::canRead, &make<TgaHandler>, false},
    {"picsage-pcx", "pcx", &PcxHandler::canRead, &make<PcxHandler>, false},
    {"picsage-ras", "ras", &SunRasterHandler::canRead, &make<SunRasterHandler>, true},
    {"picsage-pbm", "pbm pgm ppm pnm", &NetpbmHandler::canRead, &make<NetpbmHandler>, true},
    {"picsage-wbmp", "wbmp wbm wap", &WbmpHandler::canRead, &make<WbmpHandler>, false},
    {"picsage-heif", "heic heif", &HeifHandler::canRead, &make<HeifHandler>, true},
    {"picsage-tiff", "tif tiff", &TiffHandler::canRead, &make<TiffHandler>, true},
    {"picsage-ai", "ai", &IllustratorHandler::canRead, &make<IllustratorHandler>, true},
};

bool listed(const char *suffixes, const QByteArray &suffix)
{
    return !suffix.isEmpty() && QByteArray(suffixes).split(' ').contains(suffix);
}

} // namespace

const ReaderRow *readerRows(int *count)
{
    *count = int(sizeof(Rows) / sizeof(Rows[0]));
    return Rows;
}

const ReaderRow *readerForKey(const QByteArray &key)
{
    for (const ReaderRow &row : Rows)
        if (key == row.key) return &row;
    return nullptr;
}

const ReaderRow *readerForSuffix(const QByteArray &suffix)
{
    for (const ReaderRow &row : Rows)
        if (listed(row.suffixes, suffix.toLower())) return &row;
    return nullptr;
}

} // namespace platform::decoders
