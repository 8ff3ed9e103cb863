#pragma once

#include "picsage_global.h"

#include <QLineEdit>

namespace host {

// A line edit whose frame the skin style draws: a blue outline only while hovered or
// focused.
class PICSAGE_EXPORT VuLineEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit VuLineEdit(QWidget *parent = nullptr) : QLineEdit(parent)
    {
        setAttribute(Qt::WA_Hover);
    }
};

} // namespace host
