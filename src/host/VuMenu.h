#pragma once

#include "skin/VuStyleOptions.h"

#include <QMenu>

namespace skin {
class VuSkinOptionMenuItem;
}

namespace host {

// A popup menu drawn by the skin style: a soft shadow, a thin frame, a white panel and items in the
// menu look. It paints its items itself so that they carry the look and the grey switch.
class VuMenu : public QMenu
{
    Q_OBJECT
public:
    explicit VuMenu(QWidget *parent = nullptr);
    explicit VuMenu(const QString &title, QWidget *parent = nullptr);

    // Not owned. Null: items use the style's "MenuItem" look without their own fill.
    skin::VuSkinOptionMenuItem *skinOption() const { return m_skinOption; }
    void setSkinOption(skin::VuSkinOptionMenuItem *look) { m_skinOption = look; }

    bool greyWhenDisabled() const { return m_greyWhenDisabled; }
    void setGreyWhenDisabled(bool grey) { m_greyWhenDisabled = grey; }

    void initStyleOption(skin::VuStyleOptionMenuItem *opt, const QAction *action) const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    skin::VuSkinOptionMenuItem *m_skinOption = nullptr;
    bool m_greyWhenDisabled = false;
};

} // namespace host
