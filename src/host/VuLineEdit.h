#pragma once

#include <QLineEdit>

namespace host {

// A line edit whose frame the skin style draws: a blue outline only while hovered or
// focused.
class VuLineEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit VuLineEdit(QWidget *parent = nullptr) : QLineEdit(parent)
    {
        setAttribute(Qt::WA_Hover);
    }
};

} // namespace host
