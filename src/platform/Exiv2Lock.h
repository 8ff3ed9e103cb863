#pragma once

#include <QMutex>

#include <string>

namespace platform {

// The one lock around every use of Exiv2 (it keeps process-wide tables); taking it the
// first time also silences Exiv2's own messages.
QMutex &exiv2Lock();

// Whether Exiv2 takes the file for a still picture. Its video readers (QuickTime, Matroska,
// RIFF, ASF) walk untrusted box trees for many seconds on damaged files, and no picture
// format we read keeps its metadata in one: such files are never handed to it.
bool exiv2ReadsAsPicture(const std::string &path);

} // namespace platform
