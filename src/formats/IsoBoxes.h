#pragma once

#include <QtGlobal>

class QIODevice;

namespace raw {

// Whether `device` holds an ISO base media file (CR3 and its kin): its first box is 'ftyp'.
bool isIsoBaseMedia(QIODevice *device);

// Whether the box structure of an ISO base media file holds together: every box, and every
// box inside the containers that camera raw files use, lies inside its parent and the file;
// a 64-bit size is at least its own header; the nesting and the number of boxes stay within
// bounds. Debian's LibRaw 0.20 loops forever on some boxes that fail this, so such a file is
// never handed to it.
bool isoBoxesAreSound(QIODevice *device);

} // namespace raw
