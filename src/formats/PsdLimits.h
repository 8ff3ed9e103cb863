#pragma once

#include <QtGlobal>

// Every limit that the Photoshop readers apply to numbers taken from a file, in one place.
namespace psd {

constexpr quint32 kMaxPsdSide = 30000;  // rows or columns of a document of version 1
constexpr quint32 kMaxPsbSide = 300000; // rows or columns of a large document (version 2)

// The largest picture either reader makes (a 30000 x 30000 document needs 3.6 GB).
constexpr quint64 kMaxImageBytes = quint64(16) << 30;

// A byte array of Qt 5 counts its bytes with an int.
constexpr quint64 kMaxByteArray = 0x7fffffffu - 64;

// A PackBits run of two input bytes expands to at most 128 output bytes.
constexpr quint64 kMaxPackBitsExpansion = 64;

// Deflate makes at most about 1032 bytes of one: a zip channel that claims more than this
// many times its data is refused before anything is inflated.
constexpr quint64 kMaxZipExpansion = 1032;

// A zip channel is inflated a whole row at a time, from the layer's left edge: rows longer
// than this many bytes (a layer far wider than any canvas) are not drawn.
constexpr quint64 kMaxZipRowBytes = quint64(16) * kMaxPsbSide;

// Groups that compose into a buffer of their own (and clipping groups) nest at most this
// deep; deeper ones are drawn as if they passed through. Groups nest at most
// kMaxGroupNesting deep in all; deeper ones are taken apart into their members.
constexpr int kMaxIsolatedDepth = 6;
constexpr int kMaxGroupNesting = 64;

// A sequential device is held in memory so that lengths can be checked against its end;
// one that delivers more than this is refused.
constexpr qint64 kMaxStreamBytes = qint64(512) << 20;

// Bytes read from the device at a time while expanding run-length data.
constexpr qint64 kReadChunk = 256 * 1024;

// Planes that any conversion looks at: colour planes plus one alpha plane.
constexpr int kMaxPlanesUsed = 5;

// The preview reduces large pictures to fit this square.
constexpr int kPreviewSide = 256;

// Header that precedes the JPEG data of a thumbnail resource.
constexpr quint32 kThumbnailHeader = 28;

// Thumbnails are small by nature; a larger one is refused before it is decoded.
constexpr int kMaxThumbnailSide = 2048;

} // namespace psd
