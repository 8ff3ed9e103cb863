#pragma once

class QIODevice;

namespace raw {

class PreviewCollector;
struct ShootingData;

// Whether `device` holds a CIFF file (Canon's CRW): a byte-order mark, the header's length and
// "HEAPCCDR".
bool isCiff(QIODevice *device);

// The JPEG previews of a CRW file: the thumbnail record (0x2008) and the JPEG made from the
// sensor data (0x2007), in any heap. With `shooting`, the camera's make and model (0x080A), the
// time (0x180E) and the picture's size and rotation (0x1810, image info). Each heap's table is
// checked against the heap, each sub-heap lies inside its parent and is smaller than it, and the
// nesting and the number of records are bounded.
void findCiffPreviews(QIODevice *device, PreviewCollector *found, ShootingData *shooting);

} // namespace raw
