#pragma once

#include <QtGlobal>

namespace raw {

// LibRaw's file buffer limit (the second argument of open_file).
constexpr qint64 BufferLimit = 0xFA00000;

// The most pixels a preview may claim before anything is decoded for it: more than any
// camera writes, far less than what a forged header could make us allocate.
constexpr qint64 MaxPreviewPixels = 0x6400000;

// The walk over a TIFF-based raw file for its previews: IFDs are nested at most this deep
// (IFD0, its sub-IFDs, theirs, ...), at most this many are read in all (chains that loop
// end at the first IFD seen twice), and an IFD with more entries is taken as corrupt.
constexpr int MaxIfdDepth = 4;
constexpr int MaxIfds = 64;
constexpr int MaxIfdEntries = 4096;
constexpr int MaxSubIfds = 64;

// Longer texts than this are not read from an IFD (camera and lens names are far shorter).
constexpr quint32 MaxTextLength = 256;

// An ISO base media file (CR3) with boxes nested deeper, or more boxes, is taken as corrupt.
constexpr int MaxIsoDepth = 16;
constexpr int MaxIsoBoxes = 100000;

// What LibRaw may read of a file while it opens it: this much plus a few times the file's
// size, each read and seek counted as at least ReadCost bytes. Past it the file is refused:
// Debian's LibRaw 0.20 loops forever on some hostile files.
constexpr qint64 ReadBudgetBase = 64 * 1024 * 1024;
constexpr qint64 ReadBudgetPerFileByte = 8;
constexpr qint64 ReadCost = 64;

// JPEG previews kept from one file (cameras embed two or three).
constexpr int MaxPreviews = 32;

// A CRW file's heaps are nested at most this deep and hold at most this many records in all.
constexpr int MaxCiffDepth = 8;
constexpr int MaxCiffRecords = 20000;

// Canon's metadata boxes (TIFF structures) are read whole up to this size.
constexpr qint64 MaxMetadataBox = 4 * 1024 * 1024;

// JPEG segments looked at before the frame header is found.
constexpr int MaxJpegSegments = 256;

} // namespace raw
