#pragma once

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QRgb>

#include <vector>

namespace psd {

struct DescriptorValue;

// A gradient as fill layers and gradient maps keep it: colour and transparency stops at
// 0 to 1, each with the midpoint (0 to 1) of the stretch that follows it.
struct GradientStops
{
    struct Stop
    {
        double at = 0, mid = 0.5;
        double value[3] = {}; // red, green, blue 0-255; or the opacity 0-1 in value[0]
    };
    std::vector<Stop> colours, opacities;

    // From a 'Grdn' object; false when it holds no usable colour stop.
    bool fromDescriptor(const DescriptorValue &gradient);
    // The colour and opacity at t (0 to 1).
    QRgb at(double t) const;
};

// The picture of the pattern with the given unique id among the patterns of a 'Patt',
// 'Pat2' or 'Pat3' block (8-bit grey, indexed or RGB), or a null picture.
QImage findPattern(const QByteArray &block, const QString &id);

// The content of a fill layer: one colour, a gradient or a pattern, from its 'SoCo', 'GdFl'
// or 'PtFl' block.
class PsdFill
{
public:
    enum class Kind { None, Solid, Gradient, Pattern };
    enum class Shape { Linear, Radial, Angle, Reflected, Diamond };

    static PsdFill fromBlock(quint32 key, const QByteArray &block);
    // A gradient from the keys of a gradient fill ('Grad', 'Type', 'Angl', ...), as
    // gradient overlays keep them too.
    static PsdFill fromGradient(const DescriptorValue &d);
    // A pattern named by 'Ptrn' (its 'Idnt'), with 'Scl ' and 'phase', as pattern fills and
    // pattern overlays keep it.
    static PsdFill fromPattern(const DescriptorValue &d);
    bool isValid() const
    {
        return m_kind != Kind::None && (m_kind != Kind::Pattern || !m_tile.isNull());
    }
    // A pattern fill names its pattern by id; it draws once it has the picture.
    QString patternId() const { return m_patternId; }
    void setPattern(const QImage &tile) { m_tile = tile.convertToFormat(QImage::Format_ARGB32); }

    // Draws the part `window` of a fill whose geometry spans `box` (both in document
    // pixels) into pixels: red, green, blue and alpha bytes, window.width() * 4 a row.
    void render(const QRect &window, const QRect &box, uchar *pixels) const;

private:
    Kind m_kind = Kind::None;
    QRgb m_colour = 0;
    Shape m_shape = Shape::Linear;
    double m_angle = 90; // degrees, counter-clockwise from the right
    double m_scale = 1;
    bool m_reverse = false;
    double m_offsetX = 0, m_offsetY = 0; // fractions of the box; a pattern's phase in pixels
    std::vector<QRgb> m_ramp;            // the gradient's colours, reversal applied, at steps of t
    QString m_patternId;
    QImage m_tile;
};

} // namespace psd
