#pragma once

#include "skin/VuStyleOptions.h"

#include <QPushButton>

namespace skin {
class VuSkinOptionPushButton;
}

namespace host {

// A push button drawn by the skin style in one of its push-button looks, with rounded
// corners. The contents margins of the widget are the margins of the drawing.
class VuPushButton : public QPushButton
{
    Q_OBJECT
    Q_PROPERTY(double xRadius READ xRadius WRITE setXRadius)
    Q_PROPERTY(double yRadius READ yRadius WRITE setYRadius)
public:
    explicit VuPushButton(QWidget *parent = nullptr);
    explicit VuPushButton(const QString &text, QWidget *parent = nullptr);

    double xRadius() const { return m_xRadius; }
    void setXRadius(double radius) { m_xRadius = radius; }
    double yRadius() const { return m_yRadius; }
    void setYRadius(double radius) { m_yRadius = radius; }

    // Not owned. Null means the "PushButton" look of the application's skin style.
    skin::VuSkinOptionPushButton *skinOption() const { return m_skinOption; }
    void setSkinOption(skin::VuSkinOptionPushButton *look) { m_skinOption = look; }

    int displayMode() const { return m_displayMode; }
    void setDisplayMode(int mode) { m_displayMode = mode; }
    int borderWidth() const { return m_borderWidth; }
    void setBorderWidth(int width) { m_borderWidth = width; }
    int iconTextSpacing() const { return m_iconTextSpacing; }
    void setIconTextSpacing(int spacing) { m_iconTextSpacing = spacing; }

    void initStyleOption(skin::VuStyleOptionPushButton *opt) const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double m_xRadius = 0;
    double m_yRadius = 0;
    skin::VuSkinOptionPushButton *m_skinOption = nullptr;
    int m_displayMode = skin::VuStyleOptionPushButton::IconAndText;
    int m_borderWidth = 1;
    int m_iconTextSpacing = 0;
};

} // namespace host
