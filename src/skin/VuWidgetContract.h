#pragma once

#include <QVariant>
#include <QWidget>

namespace skin {

// What the style knows of the library's widget classes, which live above it: their class
// names (through the meta-object, subclasses included) and the Qt properties they answer.
namespace widgetcontract {

constexpr const char *MenuClass = "host::VuMenu";
constexpr const char *LineEditClass = "host::VuLineEdit";
constexpr const char *PushButtonClass = "host::VuPushButton";
constexpr const char *ComboBoxClass = "host::VuComboBox";
constexpr const char *ToolButtonClass = "host::VuToolButton";

// VuPushButton: corner radii (double).
constexpr const char *XRadiusProperty = "xRadius";
constexpr const char *YRadiusProperty = "yRadius";
// VuComboBox: which of its two looks (bool; answered by a virtual of the class).
constexpr const char *FilledLookProperty = "filledLook";
// VuToolButton: width of the menu area at its right (int).
constexpr const char *MenuAreaWidthProperty = "menuAreaWidth";

inline bool is(const QWidget *widget, const char *className)
{
    return widget && widget->inherits(className);
}

inline QVariant query(const QWidget *widget, const char *className, const char *property)
{
    return is(widget, className) ? widget->property(property) : QVariant();
}

} // namespace widgetcontract

} // namespace skin
