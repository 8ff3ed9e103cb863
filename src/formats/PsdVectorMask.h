#pragma once

#include <QByteArray>
#include <QPainterPath>
#include <QRect>
#include <QSize>

namespace psd {

// A layer's vector mask: the path records of its 'vmsk' or 'vsms' block, whose points are
// fractions of the document's size in 8.24 fixed point.
class PsdVectorMask
{
public:
    // From the block's bytes and the document's size; invalid when the bytes are not a
    // vector mask. A disabled mask is valid and hides nothing.
    static PsdVectorMask fromBlock(const QByteArray &block, QSize document);

    bool isValid() const { return m_valid; }
    bool isEnabled() const { return m_valid && !m_disabled; }
    const QPainterPath &path() const { return m_path; }
    // True when the mask shows what lies outside the path rather than inside.
    bool showsOutside() const { return m_inverted != m_startsFilled; }

    // The mask's density (how much it hides, 255 fully) and feather (blur radius in pixels)
    // from the layer's mask record.
    void soften(int density, double feather)
    {
        m_density = qBound(0, density, 255);
        m_feather = qBound(0.0, feather, 250.0);
    }

    // Scales the alpha bytes (every fourth byte from offset 3) of the pixels of window by
    // the mask's anti-aliased coverage.
    void apply(const QRect &window, uchar *pixels) const;

private:
    QPainterPath m_path;
    bool m_valid = false;
    bool m_disabled = false;
    bool m_inverted = false;
    bool m_startsFilled = false;
    int m_density = 255;
    double m_feather = 0;
};

} // namespace psd
