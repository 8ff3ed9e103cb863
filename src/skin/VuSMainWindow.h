#pragma once

#include "picsage_global.h"

#include <QWidget>

namespace skin {

// The base of the skinned main windows; its meta-object and translation context are what
// the library provides.
class PICSAGE_EXPORT VuSMainWindow : public QWidget
{
    Q_OBJECT
public:
    using QWidget::QWidget;
};

} // namespace skin
