#pragma once

#include <QtGlobal>

class QIODevice;

namespace raw {

class PreviewCollector;
struct ShootingData;

// Whether `device` holds an ISO base media file (CR3 and its kin): its first box is 'ftyp'.
bool isIsoBaseMedia(QIODevice *device);

// Whether the box structure of an ISO base media file holds together: every box, and every
// box inside the containers that camera raw files use, lies inside its parent and the file;
// a 64-bit size is at least its own header; the nesting and the number of boxes stay within
// bounds. Debian's LibRaw 0.20 loops forever on some boxes that fail this, so such a file is
// never handed to it.
bool isoBoxesAreSound(QIODevice *device);

// The previews of a CR3 file: the thumbnail in Canon's metadata box ('THMB'), the preview in
// its preview box ('PRVW') and the full-size JPEG that the first track holds. With
// `shooting`, what the TIFF structures of the metadata box (IFD0 in 'CMT1', the EXIF IFD in
// 'CMT2') say. Boxes that do not fit their parent end the walk of that level; what was
// found before them is kept.
void findIsoPreviews(QIODevice *device, PreviewCollector *found, ShootingData *shooting);

} // namespace raw
