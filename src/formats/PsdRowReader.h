#pragma once

#include "PsdHeader.h"
#include "PsdStream.h"

#include <QImage>

namespace psd {

// The planes of an 8-bit run-length document expanded a row at a time: the row byte counts
// say where each plane's data begin, so row y of every plane is expanded into a few rows
// of samples that stay in cache, and the row's finished pixels are written once. Large
// pictures are cut into strips of rows that a few threads read and expand, each strip by the
// thread that takes it, where the device can be read from several threads.
struct RunLengthRows
{
    QImage picture;     // null when the document cannot be read this way
    int planes = 0;     // planes the picture was made from, the first ones
    quint64 restAt = 0; // where the data of the planes after them begin
};

// Reads from the stream positioned at the table of row counts of `document`; `picture` is
// the document as the picture is made from it. The picture is null, and the caller expands
// the planes one after another instead, when the counts disagree with the runs (a row that
// does not expand to exactly one row of samples from exactly its count), when the data are
// shorter than the counts, or when memory runs out. The stream is then left anywhere
// inside the document.
RunLengthRows readRunLengthRows(PsdStream &stream, const PsdHeader &document,
                                const PsdHeader &picture);

} // namespace psd
