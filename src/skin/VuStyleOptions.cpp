#include "skin/VuStyleOptions.h"

namespace skin {

namespace {

QGradientStops blackStops(std::initializer_list<std::pair<qreal, int>> alphas)
{
    QGradientStops stops;
    for (const auto &[position, alpha] : alphas)
        stops.append({position, QColor(0, 0, 0, alpha)});
    return stops;
}

QLinearGradient edgeRamp(qreal fadePosition)
{
    QLinearGradient ramp;
    ramp.setCoordinateMode(QGradient::ObjectBoundingMode);
    ramp.setSpread(QGradient::PadSpread);
    ramp.setStops(blackStops({{0.0, 0x42}, {0.1, 0x42}, {fadePosition, 0x12}, {1.0, 0}}));
    return ramp;
}

QRadialGradient cornerGradient(const QPointF &centre, int innerAlpha, qreal midPosition,
                               int midAlpha)
{
    QRadialGradient corner(centre, 1.0, centre);
    corner.setCoordinateMode(QGradient::ObjectBoundingMode);
    corner.setSpread(QGradient::PadSpread);
    corner.setStops(blackStops({{0.0, innerAlpha}, {midPosition, midAlpha}, {1.0, 0}}));
    return corner;
}

} // namespace

// The records are plain values; the special members are spelled out so that they are
// exported with the records.
#define VU_STYLE_OPTION_VALUE_MEMBERS(Record)                                                      \
    Record::Record(const Record &other) = default;                                                 \
    Record &Record::operator=(const Record &other) = default;                                      \
    Record::~Record() = default;

VuStyleOptionPushButton::VuStyleOptionPushButton() : font(QStringLiteral("Microsoft YaHei"))
{
    type = Type;
    version = Version;
}
VU_STYLE_OPTION_VALUE_MEMBERS(VuStyleOptionPushButton)

VuStyleOptionCheckBox::VuStyleOptionCheckBox()
{
    type = Type;
    version = Version;
}
VU_STYLE_OPTION_VALUE_MEMBERS(VuStyleOptionCheckBox)

VuStyleOptionRadioButton::VuStyleOptionRadioButton()
{
    type = Type;
    version = Version;
}
VU_STYLE_OPTION_VALUE_MEMBERS(VuStyleOptionRadioButton)

VuStyleOptionComboBox::VuStyleOptionComboBox()
{
    type = Type;
    version = Version;
}
VU_STYLE_OPTION_VALUE_MEMBERS(VuStyleOptionComboBox)

VuStyleOptionToolButton::VuStyleOptionToolButton()
{
    type = Type;
    version = Version;
}
VU_STYLE_OPTION_VALUE_MEMBERS(VuStyleOptionToolButton)

VuStyleOptionMenuItem::VuStyleOptionMenuItem()
{
    version = Version;
}
VU_STYLE_OPTION_VALUE_MEMBERS(VuStyleOptionMenuItem)

VuStyleOptionMenuFrame::VuStyleOptionMenuFrame()
{
    version = Version;
}
VU_STYLE_OPTION_VALUE_MEMBERS(VuStyleOptionMenuFrame)

VuStyleOptionSlider::VuStyleOptionSlider()
{
    type = Type;
    version = Version;
}
VU_STYLE_OPTION_VALUE_MEMBERS(VuStyleOptionSlider)

VuStyleOptionShadowBorder::VuStyleOptionShadowBorder()
    : QStyleOption(Version, Type), leftRamp(edgeRamp(0.5)), topRamp(edgeRamp(0.5)),
      rightRamp(edgeRamp(0.6)), bottomRamp(edgeRamp(0.6)),
      topLeftCorner(cornerGradient({1, 1}, 0x1C, 0.6, 0x05)),
      topRightCorner(cornerGradient({0, 1}, 0x1F, 0.6, 0x05)),
      bottomLeftCorner(cornerGradient({1, 0}, 0x1F, 0.6, 0x0A)),
      bottomRightCorner(cornerGradient({0, 0}, 0x2F, 0.7, 0x0A))
{
}
VU_STYLE_OPTION_VALUE_MEMBERS(VuStyleOptionShadowBorder)

#undef VU_STYLE_OPTION_VALUE_MEMBERS

} // namespace skin
