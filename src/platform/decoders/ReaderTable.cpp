#include "platform/decoders/ReaderTable.h"

#include "platform/decoders/BmpHandler.h"

#include <QIODevice>

namespace platform::decoders {

namespace {

template <class Handler> QImageIOHandler *make()
{
    return new Handler;
}

// One row per reader. Its key must also be listed in readers.json, which names the keys
// QImageReader asks the plug-in for (a key without a row here is simply not read).
//   {key, suffixes, &Handler::canRead, &make<Handler>, strong signature?}
// Readers written beside this one slot in as one row each, with their header included above:
//   {"picsage-tga", "tga", &TgaHandler::canRead, &make<TgaHandler>, false},
//   {"picsage-pcx", "pcx", &PcxHandler::canRead, &make<PcxHandler>, false},
//   {"picsage-ras", "ras", &RasHandler::canRead, &make<RasHandler>, true},
//   {"picsage-pbm", "pbm pgm ppm pnm", &PbmHandler::canRead, &make<PbmHandler>, true},
//   {"picsage-wbmp", "wbmp wbm wap", &WbmpHandler::canRead, &make<WbmpHandler>, false},
//   {"picsage-heif", "heic heif", &HeifHandler::canRead, &make<HeifHandler>, true},
//   {"picsage-tiff", "tif tiff", &TiffHandler::canRead, &make<TiffHandler>, true},
//   {"picsage-ai", "ai", &AiHandler::canRead, &make<AiHandler>, true},
// (strong: the content alone decides; weak or header-only formats are tried after Qt's guess.)
const ReaderRow Rows[] = {
    {"picsage-bmp", "bmp dib", &BmpHandler::canRead, &make<BmpHandler>, true},
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
