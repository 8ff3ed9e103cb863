#include "skin/VuTheme.h"

#include <QDomDocument>
#include <QFile>
#include <QXmlStreamReader>

namespace skin::theme {

namespace {

// QDomDocument recurses once per element level while it builds and frees the tree, so the
// depth is measured first with the stream reader, which does not.
bool depthWithinLimit(const QByteArray &data)
{
    QXmlStreamReader reader(data);
    int depth = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            if (++depth > kMaxElementDepth) return false;
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        default:
            break;
        }
    }
    // Malformed input is left for the DOM parser to refuse.
    return true;
}

} // namespace

bool readDocument(const QString &path, QDomDocument *doc)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    // Read one byte past the limit rather than trusting size(), which is 0 for some files.
    const QByteArray data = file.read(kMaxFileSize + 1);
    if (data.size() > kMaxFileSize || !depthWithinLimit(data)) return false;
    QDomDocument parsed;
    if (!parsed.setContent(data)) return false;
    *doc = parsed;
    return true;
}

bool parseColor(const QString &text, QColor *color)
{
    if (!text.startsWith(QLatin1Char('#'))) return false;
    const int digits = text.size() - 1;
    if (digits != 8 && digits != 6) return false;

    int channels[4] = {255, 0, 0, 0}; // alpha, red, green, blue
    for (int group = 0, channel = digits == 8 ? 0 : 1; channel < 4; ++group, ++channel) {
        bool ok = false;
        int value = text.midRef(1 + 2 * group, 2).toInt(&ok, 16);
        if (!ok) value = 0;
        if (value < 0) return false;
        channels[channel] = value;
    }
    color->setRgb(channels[1], channels[2], channels[3], channels[0]);
    return true;
}

bool parseLinear(const QDomElement &linear, QLinearGradient *gradient)
{
    QLinearGradient result;
    const QString spread = linear.attribute(QStringLiteral("spread"), QStringLiteral("pad"));
    if (spread == QLatin1String("pad"))
        result.setSpread(QGradient::PadSpread);
    else if (spread == QLatin1String("reflect"))
        result.setSpread(QGradient::ReflectSpread);
    else if (spread == QLatin1String("repeat"))
        result.setSpread(QGradient::RepeatSpread);
    else
        return false;

    int stops = 0;
    for (QDomElement stop = linear.firstChildElement(QStringLiteral("stop")); !stop.isNull();
         stop = stop.nextSiblingElement(QStringLiteral("stop"))) {
        bool ok = false;
        const double pos = stop.attribute(QStringLiteral("pos")).toDouble(&ok);
        QColor color;
        // QGradient drops out-of-range stops with a warning; a theme with one is malformed.
        if (!ok || !(pos >= 0.0 && pos <= 1.0) ||
            !parseColor(stop.attribute(QStringLiteral("value")), &color))
            return false;
        result.setColorAt(pos, color);
        ++stops;
    }
    if (stops == 0) return false;
    *gradient = result;
    return true;
}

} // namespace skin::theme
