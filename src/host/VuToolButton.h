#pragma once

#include "skin/VuStyleOptions.h"

#include <QToolButton>

namespace host {

// A tool button drawn by the skin style; a strip at its right, `menuAreaWidth` wide, is the
// menu area with the drop-down arrow.
class VuToolButton : public QToolButton
{
    Q_OBJECT
    Q_PROPERTY(int menuAreaWidth READ menuAreaWidth WRITE setMenuAreaWidth)
public:
    explicit VuToolButton(QWidget *parent = nullptr);

    int menuAreaWidth() const { return m_menuAreaWidth; }
    void setMenuAreaWidth(int width) { m_menuAreaWidth = width; }

    void initStyleOption(skin::VuStyleOptionToolButton *opt) const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_menuAreaWidth = 0;
};

} // namespace host
