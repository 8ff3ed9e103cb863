#pragma once

#include "MetafileBytes.h"

#include <QImage>

namespace metafile {

// Device-independent bitmaps as metafiles embed them: a header with its colour table
// (`info`) and the pixel rows (`bits`), bottom-up unless the height is negative. Answers a
// top-down `Format_ARGB32` image, or a null image for anything malformed or too large.
// `keepAlpha`: 32-bit pixels keep their fourth byte as alpha (only blends use it; plain
// copies treat it as padding, as the system does). `budget`, when given, is the number of
// pixels a picture may still decode: a bitmap beyond it is refused, and what is decoded is
// taken from it, so that many small records of compressed bitmaps cannot add up to
// unbounded work.
QImage decodeDib(MetafileBytes info, MetafileBytes bits, bool keepAlpha = false,
                 qint64 *budget = nullptr);

// A packed bitmap: header, colour table and rows one after another.
QImage decodePackedDib(MetafileBytes packed, bool keepAlpha = false, qint64 *budget = nullptr);

// Number of bytes of header and colour table at the start of a packed bitmap, 0 if invalid.
quint32 dibInfoSize(MetafileBytes info);

} // namespace metafile
