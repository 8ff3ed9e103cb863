#pragma once

#include <QColor>
#include <QLinearGradient>
#include <QString>

class QDomDocument;
class QDomElement;

// Reading theme files: the document itself and the value forms of its elements. Every
// function refuses malformed input by returning false and leaves its output untouched.
namespace skin::theme {

// Theme files are a few kilobytes; anything far larger or deeper is not a theme, and a DOM
// of it would cost hundreds of megabytes or overflow the stack while Qt builds or frees it.
constexpr qint64 kMaxFileSize = 1024 * 1024;
constexpr int kMaxElementDepth = 256;

// Reads and parses a theme file within the limits above.
bool readDocument(const QString &path, QDomDocument *doc);

// "#RRGGBB" (opaque) or "#AARRGGBB". A group that is not hexadecimal reads as 0; a group
// that reads negative refuses the whole colour.
bool parseColor(const QString &text, QColor *color);

// A `linear` element: its spread ("pad" when missing, "reflect", "repeat") and its `stop`
// children (`pos` within 0..1 and `value` as for parseColor). Refused as a whole when the
// spread is unknown, any stop is bad, or there is no stop.
bool parseLinear(const QDomElement &linear, QLinearGradient *gradient);

} // namespace skin::theme
