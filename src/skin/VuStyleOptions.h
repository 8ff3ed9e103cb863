#pragma once

#include "picsage_global.h"

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QLinearGradient>
#include <QRadialGradient>
#include <QRect>
#include <QSize>
#include <QStyle>
#include <QStyleOption>

namespace skin {

class VuSkinOptionMenuItem;
class VuSkinOptionPeSlider;
class VuSkinOptionPushButton;

// The elements that the library's widgets ask the skin style to draw.
constexpr QStyle::ControlElement CE_VuRadioButton =
    QStyle::ControlElement(QStyle::CE_CustomBase + 1);
constexpr QStyle::ControlElement CE_VuCheckBox = QStyle::ControlElement(QStyle::CE_CustomBase + 2);
constexpr QStyle::ControlElement CE_VuPushButton =
    QStyle::ControlElement(QStyle::CE_CustomBase + 3);

constexpr QStyle::ComplexControl CC_VuComboBox = QStyle::ComplexControl(QStyle::CC_CustomBase + 1);
constexpr QStyle::ComplexControl CC_VuToolButton =
    QStyle::ComplexControl(QStyle::CC_CustomBase + 2);
constexpr QStyle::ComplexControl CC_VuSlider = QStyle::ComplexControl(QStyle::CC_CustomBase + 3);

constexpr QStyle::PrimitiveElement PE_VuShadowBorder =
    QStyle::PrimitiveElement(QStyle::PE_CustomBase + 1);

// The type tags of the library's own records. Several of them extend the same Qt record, so
// Qt's tag cannot tell them apart, nor from the plain Qt record, and the style would read
// fields past the end of a record that is not its own. No Qt record carries these tags.
// Complex records take theirs above Qt's complex base, so that they still pass as
// QStyleOptionComplex.
enum VuStyleOptionType {
    SO_VuShadowBorder = QStyleOption::SO_CustomBase + 1,
    SO_VuRadioButton = QStyleOption::SO_CustomBase + 2,
    SO_VuCheckBox = QStyleOption::SO_CustomBase + 3,
    SO_VuPushButton = QStyleOption::SO_CustomBase + 4,
    SO_VuComboBox = QStyleOption::SO_ComplexCustomBase + 1,
    SO_VuToolButton = QStyleOption::SO_ComplexCustomBase + 2,
    SO_VuSlider = QStyleOption::SO_ComplexCustomBase + 3,
};

// The option record behind `opt` when it has the type tag and at least the version of T,
// else null: what a drawing operation receives.
template <typename T> const T *vuOptionCast(const QStyleOption *opt)
{
    if (!opt || opt->version < 1 || opt->version < T::Version || opt->type != T::Type)
        return nullptr;
    return static_cast<const T *>(opt);
}

// The Qt part of one of our records, tagged as the Qt record again: what the base style
// is given when it draws part of a control for us.
template <typename QtRecord> QtRecord asQtRecord(const QtRecord &record)
{
    QtRecord plain = record;
    const QtRecord fresh;
    plain.type = fresh.type;
    plain.version = fresh.version;
    return plain;
}

class PICSAGE_EXPORT VuStyleOptionPushButton : public QStyleOptionButton
{
public:
    enum { Type = SO_VuPushButton, Version = 1 };
    enum DisplayMode { IconAndText = 0, TextOnly = 1, IconOnly = 2 };

    VuStyleOptionPushButton();
    VuStyleOptionPushButton(const VuStyleOptionPushButton &other);
    VuStyleOptionPushButton &operator=(const VuStyleOptionPushButton &other);
    ~VuStyleOptionPushButton();

    int marginLeft = 0;
    int marginTop = 0;
    int marginRight = 0;
    int marginBottom = 0;
    // Not owned; the widget sets it before drawing. Nothing is drawn without one.
    VuSkinOptionPushButton *skinOption = nullptr;
    int displayMode = IconAndText;
    int borderWidth = 1;
    int iconTextSpacing = 0;
    QFont font;
};

// A check box or radio button whose indicator may be a picture of the skin.
class PICSAGE_EXPORT VuStyleOptionCheckBox : public QStyleOptionButton
{
public:
    enum { Type = SO_VuCheckBox, Version = 1 };

    VuStyleOptionCheckBox();
    VuStyleOptionCheckBox(const VuStyleOptionCheckBox &other);
    VuStyleOptionCheckBox &operator=(const VuStyleOptionCheckBox &other);
    ~VuStyleOptionCheckBox();

    QIcon indicatorIcon;
};

class PICSAGE_EXPORT VuStyleOptionRadioButton : public QStyleOptionButton
{
public:
    enum { Type = SO_VuRadioButton, Version = 1 };

    VuStyleOptionRadioButton();
    VuStyleOptionRadioButton(const VuStyleOptionRadioButton &other);
    VuStyleOptionRadioButton &operator=(const VuStyleOptionRadioButton &other);
    ~VuStyleOptionRadioButton();

    QIcon indicatorIcon;
};

class PICSAGE_EXPORT VuStyleOptionComboBox : public QStyleOptionComboBox
{
public:
    enum { Type = SO_VuComboBox, Version = 1 };

    VuStyleOptionComboBox();
    VuStyleOptionComboBox(const VuStyleOptionComboBox &other);
    VuStyleOptionComboBox &operator=(const VuStyleOptionComboBox &other);
    ~VuStyleOptionComboBox();

    QIcon arrowIcon;
    QFont font;
    int borderWidth = 1;
};

class PICSAGE_EXPORT VuStyleOptionToolButton : public QStyleOptionToolButton
{
public:
    enum { Type = SO_VuToolButton, Version = 1 };

    VuStyleOptionToolButton();
    VuStyleOptionToolButton(const VuStyleOptionToolButton &other);
    VuStyleOptionToolButton &operator=(const VuStyleOptionToolButton &other);
    ~VuStyleOptionToolButton();
};

// A menu item with the menu's look. A plain QStyleOptionMenuItem has the same type tag; the
// version one above Qt's tells the style that the extra fields are there.
class PICSAGE_EXPORT VuStyleOptionMenuItem : public QStyleOptionMenuItem
{
public:
    enum { Type = SO_MenuItem, Version = QStyleOptionMenuItem::Version + 1 };

    VuStyleOptionMenuItem();
    VuStyleOptionMenuItem(const VuStyleOptionMenuItem &other);
    VuStyleOptionMenuItem &operator=(const VuStyleOptionMenuItem &other);
    ~VuStyleOptionMenuItem();

    VuSkinOptionMenuItem *skinOption = nullptr;
    // Disabled items (and their shortcuts) in grey instead of the normal text colour.
    bool greyWhenDisabled = false;
};

// A menu frame with the menu's look; versioned above Qt's frame option for the same reason.
class PICSAGE_EXPORT VuStyleOptionMenuFrame : public QStyleOptionFrame
{
public:
    enum { Type = SO_Frame, Version = QStyleOptionFrame::Version + 1 };

    VuStyleOptionMenuFrame();
    VuStyleOptionMenuFrame(const VuStyleOptionMenuFrame &other);
    VuStyleOptionMenuFrame &operator=(const VuStyleOptionMenuFrame &other);
    ~VuStyleOptionMenuFrame();

    VuSkinOptionMenuItem *skinOption = nullptr;
};

// The skinned slider (CC_VuSlider). Sizes are device-independent.
class PICSAGE_EXPORT VuStyleOptionSlider : public QStyleOptionSlider
{
public:
    enum { Type = SO_VuSlider, Version = 1 };

    VuStyleOptionSlider();
    VuStyleOptionSlider(const VuStyleOptionSlider &other);
    VuStyleOptionSlider &operator=(const VuStyleOptionSlider &other);
    ~VuStyleOptionSlider();

    int grooveThickness = 4;
    QSize handleSize{12, 12};
    VuSkinOptionPeSlider *skinOption = nullptr; // may be null: the built-in colours
    bool centerMark = false;
};

// The soft shadow and outline of a frameless window (PE_VuShadowBorder).
class PICSAGE_EXPORT VuStyleOptionShadowBorder : public QStyleOption
{
public:
    enum { Type = SO_VuShadowBorder, Version = 1 };

    VuStyleOptionShadowBorder();
    VuStyleOptionShadowBorder(const VuStyleOptionShadowBorder &other);
    VuStyleOptionShadowBorder &operator=(const VuStyleOptionShadowBorder &other);
    ~VuStyleOptionShadowBorder();

    int bandHeight = 0;
    int shadowWidth = 10; // below 1 means no shadow
    double opacity = 1.0;
    QRect outlineRect;
    bool drawShadow = false;
    bool twoToneOutline = false;
    bool plainOutline = false;
    bool reserved = false; // carried for the widgets that set it; not drawn

    QLinearGradient leftRamp;
    QLinearGradient topRamp;
    QLinearGradient rightRamp;
    QLinearGradient bottomRamp;
    QRadialGradient topLeftCorner;
    QRadialGradient topRightCorner;
    QRadialGradient bottomLeftCorner;
    QRadialGradient bottomRightCorner;

    QColor bandColor{0xDE, 0xDE, 0xE0};
    QColor bodyColor{0x43, 0x7C, 0xC3};
};

} // namespace skin
